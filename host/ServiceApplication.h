// The service application: the program's entry from the command line to its exit status.
//
//   1. Block the stop signals (before any thread exists) and read the command line; a bad
//      one ends with status 2, --help with 0.
//   2. Apply --data-root and --sqlite-library, then start the units in order: the log-file
//      naming; the device context; the web module over it; the HTTP listener (not
//      listening, with its port) serving the module, wired to the context as its switch;
//      the single device. They end in the reverse order.
//   3. INSTALL or UNINSTALL: write or remove the unit and report on the console (SILENT:
//      failures only); status 0 or 1.
//      No switch: run as the service in the foreground. Start (enable the device, write the
//      outcome to the event log); a failed start ends with status 1 and nothing listening.
//      Otherwise tell systemd READY=1, wait for SIGTERM or SIGINT, tell it STOPPING=1,
//      disable the device and end with status 0.
#pragma once

namespace dct {

int RunProgram(int argc, char** argv);

}  // namespace dct
