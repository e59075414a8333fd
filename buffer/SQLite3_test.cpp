#include "buffer/SQLite3.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "support/TestSupport.h"
#include "support/uCommonUtils.h"

namespace dct {
namespace {

// Leaves the process with the system's engine bound, as the other tests expect it.
class SQLiteBindingTest : public ::testing::Test {
 protected:
  void TearDown() override {
    UnloadSQLiteLibrary();
    ASSERT_TRUE(LoadSQLiteLibrary(""));
  }
};

TEST_F(SQLiteBindingTest, BindsTheSystemEngineWithoutTheOptionalKeyFunctions) {
  UnloadSQLiteLibrary();
  EXPECT_FALSE(SQLiteLibraryLoaded());
  EXPECT_EQ(SQLite.sqlite3_open, nullptr);
  ASSERT_TRUE(LoadSQLiteLibrary(""));
  EXPECT_TRUE(SQLiteLibraryLoaded());
  EXPECT_NE(SQLite.sqlite3_step, nullptr);
  EXPECT_NE(SQLite.sqlite3_declare_vtab, nullptr);
  EXPECT_EQ(SQLite.sqlite3_key, nullptr);  // absent from an engine without encryption
  EXPECT_EQ(std::string(SQLite.sqlite3_libversion()).substr(0, 2), "3.");
  // Loading again keeps the bound library.
  auto step = SQLite.sqlite3_step;
  EXPECT_TRUE(LoadSQLiteLibrary("/no/such/library.so"));
  EXPECT_EQ(SQLite.sqlite3_step, step);
}

TEST_F(SQLiteBindingTest, TheTableListsEveryEntryPointOnce) {
  const auto& required = SQLiteRequiredEntryPoints();
  const auto& optional = SQLiteOptionalEntryPoints();
  EXPECT_EQ(required.size(), 92u);
  EXPECT_EQ(optional,
            (std::vector<std::string>{"sqlite3_table_column_metadata", "sqlite3_enable_load_extension",
                                      "sqlite3_load_extension", "sqlite3_key", "sqlite3_rekey"}));
  std::set<std::string> all(required.begin(), required.end());
  all.insert(optional.begin(), optional.end());
  EXPECT_EQ(all.size(), 97u);
}

TEST_F(SQLiteBindingTest, AMissingLibraryLeavesTheEntryPointsUnbound) {
  UnloadSQLiteLibrary();
  EXPECT_FALSE(LoadSQLiteLibrary("/no/such/folder/libsqlite3.so.0"));
  EXPECT_FALSE(LoadSQLiteLibrary("no-such-library-beside-the-program.so"));
  EXPECT_FALSE(SQLiteLibraryLoaded());
  EXPECT_EQ(SQLite.sqlite3_open, nullptr);
}

TEST_F(SQLiteBindingTest, ALibraryLackingARequiredEntryPointIsRefusedByName) {
  UnloadSQLiteLibrary();
  try {
    LoadSQLiteLibrary(DCT_SQLITE_STUB_LIBRARY);
    ADD_FAILURE() << "the stub library was bound";
  } catch (const ESQLiteException& e) {
    EXPECT_STREQ(e.what(), "Cannot get procedure \"sqlite3_step\" address.");
  }
  EXPECT_FALSE(SQLiteLibraryLoaded());
  EXPECT_EQ(SQLite.sqlite3_open, nullptr);  // nothing of the stub stays in the table
  EXPECT_TRUE(LoadSQLiteLibrary(""));       // and the real engine binds afterwards
}

// Missing means no file there; a file that is there and fails is the loader's to explain.
TEST_F(SQLiteBindingTest, OnlyAMissingFileIsNotFoundAPresentOneThatFailsRaisesTheLoadersText) {
  testing::TTempDir dir("dct_sqlite_binding");
  const std::string junk = (std::filesystem::path(dir.Path()) / "libsqlite3-junk.so").string();
  {
    std::ofstream(junk, std::ios::binary) << "MZ\x7f"
                                             "ELF not a library";
  }
  const std::string folder = (std::filesystem::path(dir.Path()) / "a-folder.so").string();
  std::filesystem::create_directory(folder);
  UnloadSQLiteLibrary();
  EXPECT_FALSE(LoadSQLiteLibrary((std::filesystem::path(dir.Path()) / "absent.so").string()));
  EXPECT_FALSE(LoadSQLiteLibrary(folder));  // a folder is no library file
  try {
    LoadSQLiteLibrary(junk);
    ADD_FAILURE() << "the junk file was bound";
  } catch (const ESQLiteException& e) {
    const std::string text = e.what();
    const std::string prefix = "Cannot load the SQLite library \"" + junk + "\": ";
    EXPECT_EQ(text.rfind(prefix, 0), 0u) << text;
    EXPECT_GT(text.size(), prefix.size()) << "no reason from the loader";
  }
  EXPECT_FALSE(SQLiteLibraryLoaded());
  EXPECT_EQ(SQLite.sqlite3_open, nullptr);
}

}  // namespace
}  // namespace dct
