// Stopping an operator command (--status, --backup, --import-items, --export-documents):
// Ctrl+C or SIGTERM ends it at once, as an unhandled signal would, after removing the files
// it was writing, so that a stopped command leaves no partial file. The service itself
// stops differently: it takes its stop signal in order (StopSignal.h).
//
// POSIX: SIGINT and SIGTERM are unblocked and caught by a handler that unlinks the
// registered files, then re-raises the signal with its default action (exit status 128+N);
// SIGPIPE is ignored, as in the service, so a peer that hangs up is an error, not the end.
// Windows: a console control handler deletes the registered files it can (an open one may
// stay) and ends the process with STATUS_CONTROL_C_EXIT.
#pragma once

#include <string>

namespace dct {

// Installs the handling above. REQUIRES: called by an operator command before it writes a
// file; never together with a TStopSignal.
void EndAtOnceOnStop();

// Registers Path for removal while it lives; at most kMaxRemovedOnStop at a time (later
// ones are not registered).
class TRemoveOnStop {
 public:
  static constexpr int kMaxRemovedOnStop = 8;
  explicit TRemoveOnStop(std::string Path);
  ~TRemoveOnStop();
  TRemoveOnStop(const TRemoveOnStop&) = delete;
  TRemoveOnStop& operator=(const TRemoveOnStop&) = delete;

 private:
  std::string FPath;
  int FSlot = -1;
};

}  // namespace dct
