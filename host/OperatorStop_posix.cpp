#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <utility>

#include "host/OperatorStop.h"

namespace dct {

namespace {

// Read by the handler: only lock-free atomics and async-signal-safe calls there.
std::atomic<const char*> GRemoved[TRemoveOnStop::kMaxRemovedOnStop];

void OnStop(int signalNumber) {
  for (std::atomic<const char*>& slot : GRemoved) {
    if (const char* path = slot.load()) ::unlink(path);
  }
  // SA_RESETHAND restored the default action and SA_NODEFER lets it act now.
  ::raise(signalNumber);
}

}  // namespace

void EndAtOnceOnStop() {
  ::signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = &OnStop;
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigset_t set;
  sigemptyset(&set);
  for (const int s : {SIGINT, SIGTERM}) {
    ::sigaction(s, &action, nullptr);
    sigaddset(&set, s);
  }
  // A parent may have left them blocked; the command must hear them.
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

TRemoveOnStop::TRemoveOnStop(std::string Path) : FPath(std::move(Path)) {
  for (int i = 0; i < kMaxRemovedOnStop; ++i) {
    const char* none = nullptr;
    if (GRemoved[i].compare_exchange_strong(none, FPath.c_str())) {
      FSlot = i;
      return;
    }
  }
}

TRemoveOnStop::~TRemoveOnStop() {
  if (FSlot >= 0) GRemoved[FSlot].store(nullptr);
}

}  // namespace dct
