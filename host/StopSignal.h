// The stop request of the service: SIGTERM (systemd's stop and shutdown) or SIGINT (Ctrl+C
// when run by hand). Both are blocked and taken synchronously with sigwait, so no handler
// runs in signal context and a signal that arrives early (during start) waits its turn.
//
// REQUIRES: a TStopSignal is made before the process starts any other thread, so that
// every later thread inherits the blocked mask and the signal reaches Wait.
#pragma once

namespace dct {

class TStopSignal {
 public:
  // Blocks SIGTERM and SIGINT; ignores SIGPIPE. The mask stays blocked for the rest of
  // the process: a second signal during the stop must not end it half-way.
  TStopSignal();
  TStopSignal(const TStopSignal&) = delete;
  TStopSignal& operator=(const TStopSignal&) = delete;

  // Waits for SIGTERM or SIGINT and returns its number.
  int Wait();
};

}  // namespace dct
