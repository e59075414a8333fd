#include "host/CommandLine.h"

#include <cstdlib>

namespace dct {

namespace {

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool ParsePort(const std::string& text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& Args, THostOptions& Options, std::string& Error) {
  Options = THostOptions();
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (arg.rfind("--", 0) == 0) {
      std::string name = arg;
      std::optional<std::string> value;
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
      }
      if (name == "--help") {
        if (value) {
          Error = "option --help takes no value";
          return false;
        }
        Options.Help = true;
        continue;
      }
      if (name != "--port" && name != "--data-root" && name != "--sqlite-library" && name != "--unit-dir") {
        Error = "unknown option " + name;
        return false;
      }
      if (!value) {
        if (i + 1 >= Args.size()) {
          Error = "option " + name + " needs a value";
          return false;
        }
        value = Args[++i];
      }
      if (value->empty()) {
        Error = "option " + name + " needs a non-empty value";
        return false;
      }
      if (name == "--port") {
        if (!ParsePort(*value, Options.Port)) {
          Error = "option --port needs a port number from 1 to 65535, not \"" + *value + "\"";
          return false;
        }
      } else if (name == "--data-root") {
        Options.DataRoot = *value;
      } else if (name == "--sqlite-library") {
        Options.SQLiteLibrary = *value;
      } else {
        Options.UnitDir = *value;
      }
      continue;
    }
    if (arg.size() > 1 && (arg[0] == '/' || arg[0] == '-')) {
      const std::string word = Upper(arg.substr(1));
      if (word == "INSTALL") {
        Options.Install = true;
        continue;
      }
      if (word == "UNINSTALL") {
        Options.Uninstall = true;
        continue;
      }
      if (word == "SILENT") {
        Options.Silent = true;
        continue;
      }
    }
    Error = "unknown argument \"" + arg + "\"";
    return false;
  }
  if (Options.Install && Options.Uninstall) {
    Error = "INSTALL and UNINSTALL exclude each other";
    return false;
  }
  return true;
}

std::string UsageText(const std::string& ProgramName) {
  return "Usage: " + ProgramName +
         " [--port N] [--data-root DIR] [--sqlite-library PATH]\n"
         "       " +
         ProgramName +
         " /INSTALL [/SILENT] [--unit-dir DIR]\n"
         "       " +
         ProgramName +
         " /UNINSTALL [/SILENT] [--unit-dir DIR]\n"
         "\n"
         "With no switch the service runs in the foreground until SIGTERM or Ctrl+C.\n"
         "Switches take \"/\" or \"-\" and ignore letter case.\n"
         "  INSTALL                register the systemd unit dct_korvelmobile.service\n"
         "  UNINSTALL              remove it\n"
         "  SILENT                 report only failures of INSTALL or UNINSTALL\n"
         "Options:\n"
         "  --port N               HTTP port (default 7211)\n"
         "  --data-root DIR        data folder instead of /var/lib\n"
         "  --sqlite-library PATH  SQLite engine to load (default: libsqlite3.so.0 beside\n"
         "                         the program, then the system's)\n"
         "  --unit-dir DIR         unit folder for INSTALL and UNINSTALL\n"
         "                         (default /etc/systemd/system)\n"
         "  --help                 this text\n";
}

}  // namespace dct
