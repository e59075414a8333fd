#include "buffer/uDataBufferBackup.h"

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "buffer/SQLite3.h"
#include "buffer/SQLiteTable3.h"
#include "support/uPrivateFile.h"

namespace dct {

namespace {

namespace fs = std::filesystem;

// Removes the part file and its journal unless the backup got as far as renaming it. A
// leftover of a killed backup (or whatever was put at the name) goes first, and the file is
// then made anew; a name taken again in between fails the backup.
class TPartFile {
 public:
  explicit TPartFile(std::string path) : FPath(std::move(path)) {
    Remove();
    CreatePrivateFile(FPath, "");  // the engine takes an empty file for an empty database
  }
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

// The folder Target is in, for syncing the rename.
std::string FolderOf(const std::string& Target) {
  const fs::path folder = fs::path(Target).parent_path();
  return folder.empty() ? "." : folder.string();
}

}  // namespace

TBackupOutcome BackupDataBuffer(const std::string& Source, const std::string& Target,
                                const TBackupProgress& Progress, std::chrono::milliseconds LockWait,
                                const TBackupBeforeSync& BeforeSync) {
  TFileIdentity checked;
  std::string why;
  if (!RegularFileIdentity(Source, checked, why)) {
    std::error_code ignored;
    // sqlite3_open would create a missing source: an empty "backup" of nothing.
    if (!fs::exists(fs::symlink_status(Source, ignored)))
      throw std::runtime_error("there is no database at \"" + Source + "\"");
    throw std::runtime_error("\"" + Source + "\" is not read: " + why);
  }
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
    // The engine now holds the file open under its read lock: the name must still be the
    // file checked above, or a link was swapped in between the check and the open.
    TFileIdentity opened;
    if (!RegularFileIdentity(Source, opened, why) || !(opened == checked))
      throw std::runtime_error("\"" + Source + "\" was replaced while it was opened; no copy was made");

    TSQLiteDatabase copy(part.Path());
    // No journal file to plant a link at, and no flush under the source's read lock: the copy
    // is synced once, after the source is let go. A copy that fails is thrown away anyway.
    copy.GetUniTable("PRAGMA journal_mode = MEMORY")->RaiseIfStepFailed();  // answers with a row
    copy.ExecSQL("PRAGMA synchronous = OFF");
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
  if (BeforeSync) BeforeSync();
  SyncFile(part.Path());
  outcome.Bytes = static_cast<int64_t>(fs::file_size(part.Path()));
  ReplaceFile(part.Path(), Target);
  part.Keep();
  SyncFolder(FolderOf(Target));  // the rename itself; the copy is whole either way
  return outcome;
}

}  // namespace dct
