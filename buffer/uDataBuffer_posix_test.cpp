#include "buffer/uDataBuffer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "buffer/DataBufferFixture.h"
#include "buffer/SQLiteTable3.h"
#include "buffer/uDataBufferBackup.h"
#include "support/TestSupport.h"
#include "support/uCommonUtils.h"

namespace dct {
namespace {

namespace fs = std::filesystem;
using testing::Doc;
using testing::Item;
using testing::ReadFileText;
using testing::TScopedEnv;
using DataBufferTest = testing::TDataBufferFixture;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Writes to the buffer in `folder` as the calling user; true when every step succeeded.
bool UseBufferAs(const std::string& folder) {
  TDataBuffer buffer(folder);
  TItemsArray items = {Item("N", "by nobody")};
  TDocument doc = Doc("D", 1, {{"X", 1, ""}});
  return buffer.Enable() == 0 && buffer.SaveItems(items) == 0 && buffer.SaveDoc(doc) == 0 &&
         buffer.ClearDocs(-1) == 0;
}

TEST_F(DataBufferTest, AMachineWideFolderThatCannotBeHadGivesWayToTheUserFolder) {
  std::ofstream(FTemp.Path() + "/file") << "x";
  TScopedEnv xdg("XDG_DATA_HOME", FTemp.Path() + "/user");
  SetCommonAppDataRoot(FTemp.Path() + "/file/root");
  TDataBuffer buffer;
  SetCommonAppDataRoot("");
  EXPECT_EQ(buffer.DBPath(), FTemp.Path() + "/user/dct_korvelmobile/DataBuffer/");
  EXPECT_EQ(buffer.Enable(), 0) << buffer.ResultDescription();
}

TEST_F(DataBufferTest, CreateMakesTheSharedFolderBelowTheMachineWideFolder) {
  TScopedEnv xdg("XDG_DATA_HOME", FTemp.Path() + "/user");
  SetCommonAppDataRoot(FTemp.Path() + "/root");
  TDataBuffer buffer;
  SetCommonAppDataRoot("");
  const std::string folder = FTemp.Path() + "/root/dct_korvelmobile/DataBuffer/";
  EXPECT_EQ(buffer.DBPath(), folder);
  EXPECT_EQ(buffer.DBID(), "0");
  EXPECT_EQ(buffer.FileName(), folder + "0.db");
  EXPECT_EQ(ModeOf(folder), 0777u);
  EXPECT_FALSE(buffer.IsOpen());

  ASSERT_EQ(buffer.Enable(), 0);
  TSQLiteDatabase db(folder + "0.db");
  EXPECT_EQ(db.GetTableValue("SELECT count(*) FROM sqlite_master WHERE name IN ('items', "
                             "'docheaders', 'doctables') AND type = 'table'"),
            3);
  EXPECT_EQ(db.GetTableValue("SELECT count(*) FROM sqlite_master WHERE name = 'docid' AND type = 'index'"),
            1);
  EXPECT_EQ(ModeOf(folder + "0.db") & 0666, 0666u);
}

TEST_F(DataBufferTest, AFileThatIsNotADatabaseIsReportedAndLeftAsItIs) {
  FBuffer->SetDBID("junk");
  const std::string file = FTemp.Path() + "/buf/junk.db";
  const std::string content(3000, 'j');
  std::ofstream(file, std::ios::binary) << content;
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  EXPECT_EQ(FBuffer->Enable(), 1001);
  const std::string schema0 =
      "CREATE TABLE IF NOT EXISTS items (barcode TEXT PRIMARY KEY, name TEXT, unit TEXT, "
      "additionaldata TEXT, series TEXT, quality TEXT, price INTEGER, quantity INTEGER, "
      "useserialnum INTEGER, useweight INTEGER, usefractvalue INTEGER)";
  EXPECT_EQ(FBuffer->ResultDescription(),
            "Error executing SQL.\rError [26]: File opened that is not a database file.\r\"" + schema0 +
                "\": file is not a database");
  EXPECT_FALSE(FBuffer->IsOpen());
  EXPECT_EQ(ReadFileText(file), content);
  EXPECT_EQ(ModeOf(file), 0640u);
  EXPECT_FALSE(fs::exists(file + "-journal"));
}

TEST_F(DataBufferTest, TheDatabaseAndItsJournalAreOpenToEveryUser) {
  ASSERT_EQ(FBuffer->SaveItems({Item("A")}), 0);
  const std::string file = FBuffer->FileName();
  EXPECT_EQ(ModeOf(file) & 0666, 0666u);
  {
    // The journal exists only inside a write transaction, and inherits the folder's grant.
    mode_t oldMask = umask(022);
    TSQLiteDatabase db(file);
    db.BeginTransaction();
    db.ExecSQL("INSERT INTO items (barcode) VALUES ('J')");
    umask(oldMask);
    ASSERT_TRUE(fs::exists(file + "-journal"));
    EXPECT_EQ(ModeOf(file + "-journal") & 0666, 0666u);
    db.Rollback();
  }
  if (geteuid() != 0) GTEST_SKIP() << "checking another user's access needs root";
  FBuffer->Disable();  // no connection may cross the fork
  pid_t pid = fork();
  if (pid == 0) {
    bool ok = setgid(65534) == 0 && setuid(65534) == 0 && UseBufferAs(FTemp.Path() + "/buf");
    _exit(ok ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(FBuffer->Enable(), 0);
  EXPECT_EQ(ItemNames(), "A=n N=by nobody");
}

// Whoever can write into the buffer's or the target's folder plants links; the backup, run as
// root, must neither read through one nor write through one.
TEST_F(DataBufferTest, TheBackupReadsAndWritesNoLink) {
  const std::string victim = FTemp.Path() + "/victim";
  const std::string target = FTemp.Path() + "/copy.db";
  std::ofstream(victim) << "not to be touched";
  auto victimText = [&] { return ReadFileText(victim); };

  // A link in place of the database is refused, whatever it points to.
  const std::string linked = FTemp.Path() + "/linked.db";
  fs::create_symlink(FBuffer->FileName(), linked);
  try {
    BackupDataBuffer(linked, target);
    ADD_FAILURE() << "a linked database was copied";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("symbolic link"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(target)));

  // Links at the part file's name, its journal's and the target's are never written through.
  for (const std::string& planted : {target + kPartSuffix, target + kPartSuffix + "-journal", target})
    fs::create_symlink(victim, planted);
  const mode_t oldMask = umask(0);
  BackupDataBuffer(FBuffer->FileName(), target);
  umask(oldMask);
  EXPECT_EQ(victimText(), "not to be touched");
  EXPECT_FALSE(fs::is_symlink(target));
  EXPECT_EQ(ModeOf(target), 0600u);  // the whole database: its owner's alone
  TSQLiteDatabase copy(target);
  EXPECT_EQ(copy.GetTableValue("SELECT COUNT(*) FROM sqlite_master WHERE name = 'items'"), 1);
}

}  // namespace
}  // namespace dct
