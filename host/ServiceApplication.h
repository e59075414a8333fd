// The service application: the program's entry from the command line to its exit status.
//
//   1. Read the command line; a bad one ends with status 2, --help with 0. An operator
//      command then runs with Ctrl+C and SIGTERM ending it at once (OperatorStop.h); the
//      service blocks its stop signals before any thread exists (StopSignal.h).
//   2. Apply --data-root and --sqlite-library, then start the units in order: the log-file
//      naming; the device context; the web module over it; the HTTP listener (not
//      listening, with its port) serving the module, wired to the context as its switch;
//      the single device. They end in the reverse order.
//   3. INSTALL or UNINSTALL: install or remove the service as the platform does
//      (ServiceHost.h) and report on the console (SILENT: failures only); status 0 or 1.
//      No switch: run the service as the platform does (ServiceHost.h). In the foreground
//      (POSIX, --console on Windows): start (enable the device, write the outcome to the
//      event log); a failed start ends with status 1 and nothing listening. Otherwise tell
//      systemd READY=1, wait for the stop request, tell it STOPPING=1, disable the device and
//      end with status 0. Under the Windows service control manager the control thread
//      does the same for the manager's requests.
#pragma once

namespace dct {

int RunProgram(int argc, char** argv);

}  // namespace dct
