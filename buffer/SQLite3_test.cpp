#include "buffer/SQLite3.h"

#include <gtest/gtest.h>

#include <set>

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

}  // namespace
}  // namespace dct
