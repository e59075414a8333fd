// The stop request of the service run in the foreground.
//
// POSIX: SIGTERM (systemd's stop and shutdown) or SIGINT (Ctrl+C when run by hand). Both are
// blocked and taken synchronously with sigwait, so no handler runs in signal context and a
// signal that arrives early (during start) waits its turn.
// Windows (--console): Ctrl+C, Ctrl+Break or closing the console window, taken by a console
// control handler that only signals Wait; one that arrives early is kept for the next Wait.
// Under the service control manager the stop comes through the control handler instead.
//
// REQUIRES: a TStopSignal is made before the process starts any other thread, so that
// every later thread inherits the blocked mask and the signal reaches Wait (POSIX).
#pragma once

namespace dct {

class TStopSignal {
 public:
  // POSIX: blocks SIGTERM and SIGINT and ignores SIGPIPE; the mask stays blocked for the rest
  // of the process: a second signal during the stop must not end it half-way.
  // Windows: installs the console control handler, once per process.
  TStopSignal();
  TStopSignal(const TStopSignal&) = delete;
  TStopSignal& operator=(const TStopSignal&) = delete;

  // Waits for the stop request and returns its signal number (POSIX) or its console
  // control event (Windows).
  int Wait();
};

}  // namespace dct
