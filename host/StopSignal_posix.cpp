#include "host/StopSignal.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>

namespace dct {

namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

TStopSignal::TStopSignal() {
  // A client that hangs up must not end the process through a write to its socket.
  signal(SIGPIPE, SIG_IGN);
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int TStopSignal::Wait() {
  const sigset_t set = StopSignals();
  for (;;) {
    int signalNumber = 0;
    const int rc = sigwait(&set, &signalNumber);
    if (rc == 0) return signalNumber;
    if (rc != EINTR) return SIGTERM;  // cannot wait: treat as a stop rather than spin
  }
}

}  // namespace dct
