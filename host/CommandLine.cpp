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
  bool portGiven = false;
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
      if (name == "--status") {
        if (value) {
          Error = "option --status takes no value";
          return false;
        }
        Options.Status = true;
        continue;
      }
      const bool portable =
          name == "--port" || name == "--data-root" || name == "--sqlite-library" || name == "--url";
      const TOptionKind kind = portable ? TOptionKind::Value : PlatformOptionKind(name);
      if (kind == TOptionKind::Unknown) {
        Error = "unknown option " + name;
        return false;
      }
      if (kind == TOptionKind::Flag) {
        if (value) {
          Error = "option " + name + " takes no value";
          return false;
        }
        SetPlatformOption(name, "", Options);
        continue;
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
        portGiven = true;
      } else if (name == "--data-root") {
        Options.DataRoot = *value;
      } else if (name == "--sqlite-library") {
        Options.SQLiteLibrary = *value;
      } else if (name == "--url") {
        Options.StatusURL = *value;
      } else {
        SetPlatformOption(name, *value, Options);
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
  if (Options.StatusURL && !Options.Status) {
    Error = "option --url goes with --status";
    return false;
  }
  if (Options.Status && (Options.Install || Options.Uninstall)) {
    Error = "--status excludes INSTALL and UNINSTALL";
    return false;
  }
  if (Options.StatusURL && portGiven) {
    Error = "options --port and --url exclude each other";
    return false;
  }
  return true;
}

}  // namespace dct
