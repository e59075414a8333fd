// The program's command line.
//
//   INSTALL | UNINSTALL [SILENT]   switches, each with "/" or "-", letter case ignored
//   --port N                       listener port, 1..65535 (default 7211)
//   --data-root DIR                replaces the machine-wide data folder (/var/lib/)
//   --sqlite-library PATH          the SQLite engine to bind instead of the default search
//   --unit-dir DIR                 where INSTALL writes and UNINSTALL removes the unit file
//   --help                         usage on standard output
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
  uint16_t Port = kDefaultPort;
  std::optional<std::string> DataRoot;
  std::optional<std::string> SQLiteLibrary;
  std::string UnitDir = kDefaultUnitDir;
};

// Args without the program name. Returns false and sets Error for a bad command line.
bool ParseCommandLine(const std::vector<std::string>& Args, THostOptions& Options, std::string& Error);
std::string UsageText(const std::string& ProgramName);

}  // namespace dct
