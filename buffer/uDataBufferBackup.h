// BackupDataBuffer: a consistent copy of a buffer's database while its service keeps
// working, made with the engine's online backup through the run-time binding.
//
// The copy is taken inside one read transaction on the source, so it shows the database
// between two commits, never in the middle of one. While it runs the service's writes wait
// for it (the buffer's kLockWait); before it starts, a commit in progress is waited for.
//
// The read transaction ends as soon as the pages are copied: the copy is written to its disk
// afterwards, so a slow target never keeps the service's commits waiting for its flush.
//
// Target is written as Target + kPartSuffix beside it, checked with PRAGMA integrity_check,
// synced, and only then renamed over Target: a failed backup leaves Target as it was and no
// part file behind. The part file is created anew for its owner alone (never through a link
// or over what is at its name, see support/uPrivateFile.h) and the copy keeps no journal
// file, so nothing planted beside Target is written through. Source must be the database
// file itself: a link in its place is refused, since whoever can write into the service's
// folder could point it at any file the (root) operator can read.
//
// In one call: called by the host's --backup; calls the engine through SQLite3.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace dct {

constexpr char kPartSuffix[] = ".part";

// How long the backup waits for a commit in progress to end before it gives up. A commit of
// a catalogue load can take seconds; an answer within a minute still tells an operator the
// truth.
constexpr std::chrono::milliseconds kBackupLockWait{60000};

// Pages copied per step: progress is reported after each step.
constexpr int kBackupStepPages = 1024;

struct TBackupOutcome {
  int64_t Pages = 0;  // pages of the copy
  int64_t Bytes = 0;  // size of the copy
};

// Called after each step with the pages copied so far and the pages in all.
using TBackupProgress = std::function<void(int64_t Done, int64_t Total)>;

// For tests: called once the pages are copied and checked, just before the copy is synced.
using TBackupBeforeSync = std::function<void()>;

// Copies the database file Source (which must exist: it is never created) to Target. The
// engine must be bound (LoadSQLiteLibrary). Raises ESQLiteException or std::runtime_error
// with the reason, naming the file.
TBackupOutcome BackupDataBuffer(const std::string& Source, const std::string& Target,
                                const TBackupProgress& Progress = nullptr,
                                std::chrono::milliseconds LockWait = kBackupLockWait,
                                const TBackupBeforeSync& BeforeSync = nullptr);

}  // namespace dct
