#include "host/BackupCommand.h"

#include <exception>
#include <stdexcept>

#include "buffer/SQLite3.h"
#include "buffer/uDataBuffer.h"
#include "buffer/uDataBufferBackup.h"
#include "host/OperatorStop.h"
#include "support/uCommonUtils.h"
#include "support/uConsole.h"

namespace dct {

namespace {

constexpr char kServiceDatabaseName[] = "0.db";

void Print(std::FILE* to, const std::string& text) {
  std::fputs((text + "\n").c_str(), to);
  std::fflush(to);
}

}  // namespace

std::string ServiceDatabaseFile(const std::string& DataRoot) {
  return BufferFolderBelow(IncludeTrailingPathDelimiter(DataRoot)) + kServiceDatabaseName;
}

int RunBackupCommand(const std::string& DataRoot, const std::string& Target, const std::string& ProgramName,
                     std::FILE* Out, std::FILE* Err) {
  const std::string source = ServiceDatabaseFile(DataRoot);
  try {
    const std::string& library = GetSQLiteLibraryName();
    if (!LoadSQLiteLibrary(library))
      throw std::runtime_error("the SQLite engine " +
                               (library.empty() ? std::string(DefaultSQLiteLibraryName()) : library) +
                               " cannot be loaded");
    // Ctrl+C ends the backup at once; what it was writing goes with it.
    const TRemoveOnStop part(Target + kPartSuffix);
    TBackupOutcome outcome;
    {
      TProgressLine progress(Err);
      outcome = BackupDataBuffer(source, Target, [&progress](int64_t done, int64_t total) {
        progress.Show("copying: " + std::to_string(done) + " of " + std::to_string(total) + " pages");
      });
    }
    Print(Out, "Copied " + source + " to " + Target + ": " + std::to_string(outcome.Bytes) + " bytes, " +
                   std::to_string(outcome.Pages) + " pages; integrity check ok.");
    return 0;
  } catch (const std::exception& e) {
    Print(Err, ProgramName + ": no backup of " + source + " was made: " + e.what());
    return 1;
  }
}

}  // namespace dct
