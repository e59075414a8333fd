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
         " [--port N] [--data-root DIR] [--sqlite-library PATH] [--allow-origin ORIGIN]\n"
         "       " +
         ProgramName +
         " --console [--port N] [--data-root DIR] [--sqlite-library PATH]\n"
         "       " +
         ProgramName +
         " /INSTALL [/SILENT]\n"
         "       " +
         ProgramName + " /UNINSTALL [/SILENT]\n" + OperatorUsageLines(ProgramName) +
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
         "  --allow-origin ORIGIN  let web pages from ORIGIN (http://host:port) call the\n"
         "                         service; repeatable; by default no web page may\n"
         "  --help                 this text\n" +
         OperatorUsageOptions();
}

}  // namespace dct
