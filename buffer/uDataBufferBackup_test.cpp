#include "buffer/uDataBufferBackup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "buffer/DataBufferFixture.h"
#include "buffer/SQLiteTable3.h"

namespace dct {
namespace {

using namespace dct::testing;
namespace fs = std::filesystem;

class DataBufferBackupTest : public TDataBufferFixture {
 protected:
  void SetUp() override {
    TDataBufferFixture::SetUp();
    ASSERT_EQ(FBuffer->SaveItems({Item("A", "Ananas"), Item("B", "Бублик")}), 0);
    ASSERT_EQ(FBuffer->SaveDoc(Doc("D", 1, {{"A", 2, ""}, {"B", 1, "S1"}})), 0);
    fs::create_directories(FRestored);
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  const std::string FRestored = FTemp.Path() + "/restored";
  const std::string FTarget = FRestored + "/0.db";
};

// The copy, put where a buffer looks for its file, is the buffer: the restore path.
TEST_F(DataBufferBackupTest, TheCopyOfAnOpenBufferIsTheBuffer) {
  Write(FTarget, "an older copy");
  int64_t lastDone = -1, lastTotal = -2;
  const TBackupOutcome outcome =
      BackupDataBuffer(FBuffer->FileName(), FTarget, [&](int64_t done, int64_t total) {
        EXPECT_GT(done, lastDone);
        lastDone = done;
        lastTotal = total;
      });
  EXPECT_EQ(lastDone, lastTotal);
  EXPECT_EQ(outcome.Pages, lastTotal);
  EXPECT_EQ(outcome.Bytes, static_cast<int64_t>(fs::file_size(FTarget)));
  EXPECT_FALSE(fs::exists(FTarget + kPartSuffix));

  TDataBuffer restored(FRestored);
  ASSERT_EQ(restored.Enable(), 0) << restored.ResultDescription();
  TItemsArray items;
  ASSERT_EQ(restored.ReadItems(items), 0);
  ASSERT_EQ(items.size(), 2u);
  TDocument doc;
  ASSERT_EQ(restored.ReadDoc({"D"}, doc), 0);
  EXPECT_EQ(RowsText(doc.Rows), "A:2 B:1/S1");
  // The service goes on writing to its own file, not the copy.
  EXPECT_EQ(FBuffer->SaveItems({Item("C")}), 0);
  int32_t count = 0;
  EXPECT_EQ(restored.GetItemsCount(count), 0);
  EXPECT_EQ(count, 2);
}

TEST_F(DataBufferBackupTest, AFailedBackupLeavesTheTargetAsItWas) {
  const std::string text = FTemp.Path() + "/notes.txt";
  Write(text, std::string(4096, 'x'));
  const struct {
    std::string Source, Target, Reason;
  } cases[] = {
      {FTemp.Path() + "/none.db", FTarget, "there is no database at"},
      {text, FTarget, "file is not a database"},
      {FBuffer->FileName(), FBuffer->FileName(), "is the database itself"},
  };
  for (const auto& c : cases) {
    Write(FTarget, "the last good copy");
    try {
      BackupDataBuffer(c.Source, c.Target);
      ADD_FAILURE() << c.Source << ": no error";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(c.Reason), std::string::npos) << e.what();
    }
    EXPECT_EQ(Read(FTarget), "the last good copy") << c.Source;
    EXPECT_FALSE(fs::exists(c.Target + kPartSuffix)) << c.Source;
    EXPECT_FALSE(fs::exists(FTemp.Path() + "/none.db"));
  }
  EXPECT_EQ(ItemNames(), "A=Ananas B=Бублик");  // the source is never touched
}

// A commit in progress is waited for, up to the wait; the copy then holds what it committed.
TEST_F(DataBufferBackupTest, ABackupWaitsForAWriterUpToTheWait) {
  TSQLiteDatabase writer(FBuffer->FileName());
  writer.ExecSQL("BEGIN EXCLUSIVE");
  writer.ExecSQL("DELETE FROM Items WHERE Barcode = 'B'");
  try {
    BackupDataBuffer(FBuffer->FileName(), FTarget, nullptr, std::chrono::milliseconds(50));
    ADD_FAILURE() << "no error";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("database file is locked"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(FTarget));

  std::thread commit([&writer] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    writer.ExecSQL("COMMIT");
  });
  BackupDataBuffer(FBuffer->FileName(), FTarget);
  commit.join();
  TSQLiteDatabase copy(FTarget);
  EXPECT_EQ(copy.GetTableValue("SELECT COUNT(*) FROM Items"), 1);
}

// A slow target's flush must not keep the service's commits waiting: by the time the copy is
// synced, a writer that does not wait at all commits.
TEST_F(DataBufferBackupTest, TheReadLockIsGoneBeforeTheCopyIsSynced) {
  bool committed = false;
  BackupDataBuffer(FBuffer->FileName(), FTarget, nullptr, kBackupLockWait, [&] {
    TSQLiteDatabase writer(FBuffer->FileName());
    SQLite.sqlite3_busy_timeout(writer.DB(), 0);
    writer.ExecSQL("INSERT INTO items (barcode, name) VALUES ('W', 'written during the sync')");
    committed = true;
  });
  EXPECT_TRUE(committed);
  TSQLiteDatabase copy(FTarget);
  EXPECT_EQ(copy.GetTableValue("SELECT COUNT(*) FROM items"), 2);  // the state it copied
  EXPECT_EQ(Value("SELECT COUNT(*) FROM items"), 3);
}

}  // namespace
}  // namespace dct
