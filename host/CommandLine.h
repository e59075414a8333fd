// The program's command line.
//
//   INSTALL | UNINSTALL [SILENT]   switches, each with "/" or "-", letter case ignored
//   --port N                       listener port, 1..65535 (default 7211)
//   --data-root DIR                replaces the machine-wide data folder
//   --sqlite-library PATH          the SQLite engine to bind instead of the default search
//   --allow-origin ORIGIN          a web page origin ("http://host[:port]") that may call the
//                                  service; repeatable; none by default
//   --help                         usage on standard output
// and the operator's commands, at most one per run, each ending the program:
//   --status                       prints the status of the running service, read over HTTP
//                                  from http://127.0.0.1:N/status.json or from URL
//   --backup FILE                  copies the buffer's database under --data-root to FILE
//   --import-items FILE [--merge]  loads a catalogue from CSV through the running service
//   --export-documents DIR [--source N]  writes the stored documents as CSV files into DIR
//   --url URL                      with --status, --import-items, --export-documents: the
//                                  service's address instead of 127.0.0.1 on --port
// and the platform's own (CommandLine_<platform>.cpp):
//   --unit-dir DIR                 POSIX: where INSTALL writes and UNINSTALL removes the unit
//   --console                      Windows: run in the foreground instead of under the
//                                  service control manager
//
// Options take their value as the next argument or after "=" (--port=7211). Anything else
// is a bad command line: ParseCommandLine says why and the program ends with status 2.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dct {

constexpr uint16_t kDefaultPort = 7211;
constexpr char kDefaultUnitDir[] = "/etc/systemd/system";
// Exit status for a bad command line, as getopt-style tools use.
constexpr int kExitBadCommandLine = 2;

struct THostOptions {
  bool Install = false;
  bool Uninstall = false;
  bool Silent = false;
  bool Help = false;
  bool Console = false;
  // The operator's commands (OperatorCommand says which one, if any).
  bool Status = false;
  std::optional<std::string> BackupFile;
  std::optional<std::string> ImportItemsFile;
  bool Merge = false;
  std::optional<std::string> ExportDir;
  std::optional<int32_t> ExportSource;
  std::optional<std::string> ServiceURL;
  uint16_t Port = kDefaultPort;
  std::optional<std::string> DataRoot;
  std::optional<std::string> SQLiteLibrary;
  std::vector<std::string> AllowedOrigins;
  std::string UnitDir = kDefaultUnitDir;
};

enum class TOperatorCommand { None, Status, Backup, ImportItems, ExportDocuments };
TOperatorCommand OperatorCommand(const THostOptions& Options);

// Args without the program name. Returns false and sets Error for a bad command line.
bool ParseCommandLine(const std::vector<std::string>& Args, THostOptions& Options, std::string& Error);

// ---------------------------------------------------------------------------------------
// Platform parts (CommandLine_posix.cpp, CommandLine_windows.cpp): the options only this
// platform has, and the usage text that lists them.

enum class TOptionKind { Unknown, Flag, Value };
// Name with its leading "--", without "=value".
TOptionKind PlatformOptionKind(const std::string& Name);
// Stores a platform option; Value is empty for a flag.
void SetPlatformOption(const std::string& Name, const std::string& Value, THostOptions& Options);
std::string UsageText(const std::string& ProgramName);

// The usage lines of the operator's commands, the same on every platform.
std::string OperatorUsageLines(const std::string& ProgramName);
std::string OperatorUsageOptions();

}  // namespace dct
