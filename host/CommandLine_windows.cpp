#include "host/CommandLine.h"

namespace dct {

TOptionKind PlatformOptionKind(const std::string& Name) {
  return Name == "--console" ? TOptionKind::Flag : TOptionKind::Unknown;
}

void SetPlatformOption(const std::string& Name, const std::string& /*Value*/, THostOptions& Options) {
  if (Name == "--console") Options.Console = true;
}

std::string UsageText(const std::string& ProgramName) {
  return "Usage: " + ProgramName +
         " [--port N] [--data-root DIR] [--sqlite-library PATH]\n"
         "       " +
         ProgramName +
         " --console [--port N] [--data-root DIR] [--sqlite-library PATH]\n"
         "       " +
         ProgramName +
         " /INSTALL [/SILENT]\n"
         "       " +
         ProgramName +
         " /UNINSTALL [/SILENT]\n"
         "       " +
         ProgramName +
         " --status [--port N | --url URL]\n"
         "\n"
         "With no switch the program runs as the service dct_korvelmobile under the service\n"
         "control manager; started by hand it writes the failed connection to the event log.\n"
         "Switches take \"/\" or \"-\" and ignore letter case.\n"
         "  INSTALL                register the service and its event-log source\n"
         "  UNINSTALL              remove them\n"
         "  SILENT                 report only failures of INSTALL or UNINSTALL\n"
         "Options:\n"
         "  --console              run in the foreground until Ctrl+C or Ctrl+Break; every\n"
         "                         event-log entry is also written to standard error\n"
         "  --port N               HTTP port (default 7211)\n"
         "  --data-root DIR        data folder instead of the machine-wide application data\n"
         "  --sqlite-library PATH  SQLite engine to load (default: sqlite3.dll beside the\n"
         "                         program)\n"
         "  --help                 this text\n"
         "  --status               print the status of the service running on this machine\n"
         "                         (on --port, default 7211) and end; status 1 when it\n"
         "                         cannot be reached\n"
         "  --url URL              with --status: the service's address instead, e.g.\n"
         "                         http://host:7211 (its /status.json is read)\n";
}

}  // namespace dct
