#include "host/CommandLine.h"

#include <cstdint>
#include <cstdlib>

namespace dct {

namespace {

// "http://host" or "https://host:port", as a browser writes an Origin header: no path, no
// user, nothing after the port.
bool IsOrigin(const std::string& value) {
  const size_t scheme = value.find("://");
  if (scheme == std::string::npos) return false;
  const std::string name = value.substr(0, scheme);
  if (name != "http" && name != "https") return false;
  const std::string rest = value.substr(scheme + 3);
  return !rest.empty() && rest.find_first_of("/?#@ ") == std::string::npos;
}

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

// A document source as the buffer stores it: a 32-bit integer, sign allowed.
bool ParseSource(const std::string& text, int32_t& source) {
  const size_t digits = text[0] == '-' ? 1 : 0;
  if (text.size() == digits || text.size() - digits > 10 ||
      text.find_first_not_of("0123456789", digits) != std::string::npos)
    return false;
  const long long value = std::stoll(text);
  if (value < INT32_MIN || value > INT32_MAX) return false;
  source = static_cast<int32_t>(value);
  return true;
}

const char* CommandName(TOperatorCommand command) {
  switch (command) {
    case TOperatorCommand::Status: return "--status";
    case TOperatorCommand::Backup: return "--backup";
    case TOperatorCommand::ImportItems: return "--import-items";
    case TOperatorCommand::ExportDocuments: return "--export-documents";
    case TOperatorCommand::None: break;
  }
  return "";
}

}  // namespace

TOperatorCommand OperatorCommand(const THostOptions& Options) {
  if (Options.Status) return TOperatorCommand::Status;
  if (Options.BackupFile) return TOperatorCommand::Backup;
  if (Options.ImportItemsFile) return TOperatorCommand::ImportItems;
  if (Options.ExportDir) return TOperatorCommand::ExportDocuments;
  return TOperatorCommand::None;
}

bool ParseCommandLine(const std::vector<std::string>& Args, THostOptions& Options, std::string& Error) {
  Options = THostOptions();
  bool portGiven = false;
  int commands = 0;
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
        ++commands;
        continue;
      }
      if (name == "--merge") {
        if (value) {
          Error = "option --merge takes no value";
          return false;
        }
        Options.Merge = true;
        continue;
      }
      const bool portable = name == "--port" || name == "--data-root" || name == "--sqlite-library" ||
                            name == "--url" || name == "--backup" || name == "--import-items" ||
                            name == "--export-documents" || name == "--source" || name == "--allow-origin";
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
        Options.ServiceURL = *value;
      } else if (name == "--allow-origin") {
        if (!IsOrigin(*value)) {
          Error =
              "option --allow-origin needs an origin such as http://host:8080 (scheme, host and port only), "
              "not \"" +
              *value + "\"";
          return false;
        }
        Options.AllowedOrigins.push_back(*value);
      } else if (name == "--backup") {
        Options.BackupFile = *value;
        ++commands;
      } else if (name == "--import-items") {
        Options.ImportItemsFile = *value;
        ++commands;
      } else if (name == "--export-documents") {
        Options.ExportDir = *value;
        ++commands;
      } else if (name == "--source") {
        int32_t source = 0;
        if (!ParseSource(*value, source)) {
          Error = "option --source needs a whole number (a document source), not \"" + *value + "\"";
          return false;
        }
        Options.ExportSource = source;
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
  const TOperatorCommand command = OperatorCommand(Options);
  if (commands > 1) {
    Error = "--status, --backup, --import-items and --export-documents exclude each other";
    return false;
  }
  if (command != TOperatorCommand::None && (Options.Install || Options.Uninstall)) {
    Error = std::string(CommandName(command)) + " excludes INSTALL and UNINSTALL";
    return false;
  }
  if (Options.ServiceURL && command != TOperatorCommand::Status && command != TOperatorCommand::ImportItems &&
      command != TOperatorCommand::ExportDocuments) {
    Error = "option --url goes with --status, --import-items or --export-documents";
    return false;
  }
  if (Options.Merge && command != TOperatorCommand::ImportItems) {
    Error = "option --merge goes with --import-items";
    return false;
  }
  if (Options.ExportSource && command != TOperatorCommand::ExportDocuments) {
    Error = "option --source goes with --export-documents";
    return false;
  }
  if (Options.ServiceURL && portGiven) {
    Error = "options --port and --url exclude each other";
    return false;
  }
  return true;
}

std::string OperatorUsageLines(const std::string& ProgramName) {
  const std::string lead = "       " + ProgramName;
  return lead + " --status [--port N | --url URL]\n" + lead + " --backup FILE [--data-root DIR]\n" + lead +
         " --import-items FILE.csv [--merge] [--port N | --url URL]\n" + lead +
         " --export-documents DIR [--source N] [--port N | --url URL]\n";
}

std::string OperatorUsageOptions() {
  return "Operator commands (each ends the program; status 0 on success, 1 on failure):\n"
         "  --status               print the status of the service running on this machine\n"
         "                         (on --port, default 7211); status 1 when it cannot be\n"
         "                         reached\n"
         "  --backup FILE          copy the service's database (under --data-root) to FILE\n"
         "                         while the service runs; FILE is replaced whole, and only\n"
         "                         by a copy that passed the engine's integrity check\n"
         "  --import-items FILE.csv\n"
         "                         load a catalogue from a CSV file through the running\n"
         "                         service: it replaces the catalogue, or with --merge adds\n"
         "                         to it; a bad file is named by line and field and nothing\n"
         "                         is loaded\n"
         "  --merge                with --import-items: add and update, keep other items\n"
         "  --export-documents DIR write DIR/docheaders.csv and DIR/doctables.csv from the\n"
         "                         running service; the stored documents stay as they are\n"
         "  --source N             with --export-documents: only the documents of source N\n"
         "  --url URL              the service's address instead of 127.0.0.1 on --port,\n"
         "                         e.g. http://host:7211\n";
}

}  // namespace dct
