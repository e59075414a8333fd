#include "host/CommandLine.h"

namespace dct {

TOptionKind PlatformOptionKind(const std::string& Name) {
  return Name == "--unit-dir" ? TOptionKind::Value : TOptionKind::Unknown;
}

void SetPlatformOption(const std::string& Name, const std::string& Value, THostOptions& Options) {
  if (Name == "--unit-dir") Options.UnitDir = Value;
}

std::string UsageText(const std::string& ProgramName) {
  return "Usage: " + ProgramName +
         " [--port N] [--data-root DIR] [--sqlite-library PATH] [--allow-origin ORIGIN]\n"
         "       " +
         ProgramName +
         " /INSTALL [/SILENT] [--unit-dir DIR]\n"
         "       " +
         ProgramName + " /UNINSTALL [/SILENT] [--unit-dir DIR]\n" + OperatorUsageLines(ProgramName) +
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
         "  --allow-origin ORIGIN  let web pages from ORIGIN (http://host:port) call the\n"
         "                         service; repeatable; by default no web page may\n"
         "  --help                 this text\n" +
         OperatorUsageOptions();
}

}  // namespace dct
