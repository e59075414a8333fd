#include "buffer/uDataBufferBackup.h"

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "buffer/SQLite3.h"
#include "buffer/SQLiteTable3.h"

namespace dct {

namespace {

namespace fs = std::filesystem;

// Removes the part file and its journal unless the backup got as far as renaming it.
class TPartFile {
 public:
  explicit TPartFile(std::string path) : FPath(std::move(path)) { Remove(); }
  ~TPartFile() {
    if (!FKept) Remove();
  }
  TPartFile(const TPartFile&) = delete;
  TPartFile& operator=(const TPartFile&) = delete;

  const std::string& Path() const { return FPath; }
  void Keep() { FKept = true; }

 private:
  void Remove() noexcept {
    std::error_code ignored;
    fs::remove(FPath, ignored);
    fs::remove(FPath + "-journal", ignored);
  }

  std::string FPath;
  bool FKept = false;
};

// Renames over an existing file on every platform (not every runtime's rename replaces).
void ReplaceFile(const std::string& from, const std::string& to) {
  std::error_code error;
  fs::rename(from, to, error);
  if (!error) return;
  if (fs::is_regular_file(to)) {
    fs::remove(to, error);
    if (!error) fs::rename(from, to, error);
  }
  if (error) throw std::runtime_error("cannot put the copy in place as \"" + to + "\": " + error.message());
}

// Ends the backup object whatever happens; the engine reports its outcome at the end.
class TBackupHandle {
 public:
  TBackupHandle(sqlite3_backup* backup) : FBackup(backup) {}
  ~TBackupHandle() {
    if (FBackup) SQLite.sqlite3_backup_finish(FBackup);
  }
  TBackupHandle(const TBackupHandle&) = delete;
  TBackupHandle& operator=(const TBackupHandle&) = delete;

  sqlite3_backup* Get() const { return FBackup; }
  int Finish() {
    const int rc = SQLite.sqlite3_backup_finish(FBackup);
    FBackup = nullptr;
    return rc;
  }

 private:
  sqlite3_backup* FBackup;
};

}  // namespace

TBackupOutcome BackupDataBuffer(const std::string& Source, const std::string& Target,
                                const TBackupProgress& Progress, std::chrono::milliseconds LockWait) {
  // sqlite3_open would create a missing source: an empty "backup" of nothing.
  if (!fs::is_regular_file(Source)) throw std::runtime_error("there is no database at \"" + Source + "\"");
  std::error_code same;
  if (fs::equivalent(Source, Target, same))
    throw std::runtime_error("the backup file \"" + Target + "\" is the database itself");

  TPartFile part(Target + kPartSuffix);
  TBackupOutcome outcome;
  {
    TSQLiteDatabase source(Source);
    SQLite.sqlite3_busy_timeout(source.DB(), static_cast<int>(LockWait.count()));
    // One read transaction for the whole copy: the service cannot commit in between, so the
    // engine never restarts the copy and the copy is one state of the database.
    source.BeginTransaction();
    source.GetUniTable("SELECT COUNT(*) FROM sqlite_master")->RaiseIfStepFailed();

    TSQLiteDatabase copy(part.Path());
    TBackupHandle backup(SQLite.sqlite3_backup_init(copy.DB(), "main", source.DB(), "main"));
    if (backup.Get() == nullptr) copy.RaiseSQLiteError("Cannot start the backup of \"" + Source + "\"", "");
    int rc = SQLITE_OK;
    while (rc == SQLITE_OK) {
      rc = SQLite.sqlite3_backup_step(backup.Get(), kBackupStepPages);
      const int total = SQLite.sqlite3_backup_pagecount(backup.Get());
      if (Progress) Progress(total - SQLite.sqlite3_backup_remaining(backup.Get()), total);
      outcome.Pages = total;
    }
    // The step's own code is also the connection's; finishing reports it.
    if (backup.Finish() != SQLITE_OK || rc != SQLITE_DONE)
      copy.RaiseSQLiteError("Cannot copy \"" + Source + "\" to \"" + part.Path() + "\"", "");
    source.Commit();

    const std::unique_ptr<TSQLiteUniTable> check = copy.GetUniTable("PRAGMA integrity_check");
    check->RaiseIfStepFailed();
    const std::string verdict = check->Eof() ? "no answer" : check->Field(0).AsString();
    if (verdict != "ok") throw std::runtime_error("the copy failed the integrity check: " + verdict);
  }
  outcome.Bytes = static_cast<int64_t>(fs::file_size(part.Path()));
  ReplaceFile(part.Path(), Target);
  part.Keep();
  return outcome;
}

}  // namespace dct
