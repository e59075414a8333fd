// Windows only: the status reports of the service's control thread to the service control
// manager (ServiceHost_windows.cpp), here so that a test can watch them.
//
// A start or a stop that is pending is reported again every kPendingTick with the next
// checkpoint, until the next state is reported: the manager (and "net stop", and the
// Services console) take a pending state whose checkpoint does not move within its wait
// hint for a hung service, and a stop waits for the answers in progress (up to the
// listener's grace) and then for a running command, however long that takes.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "host/ServiceHost.h"
#include "service/HTTPLimits.h"

namespace dct {

// How often a pending state is reported again.
constexpr std::chrono::milliseconds kPendingTick{1000};
// The wait hints: the start's as the service has always given it; the stop's covers the
// listener's grace for the answers in progress, after which the ticks carry on.
constexpr DWORD kStartWaitHintMs = 5000;
constexpr DWORD kStopWaitHintMs = static_cast<DWORD>(
    std::chrono::duration_cast<std::chrono::milliseconds>(THTTPLimits::kStopGraceTime).count());
// Service-specific exit code of a run that did not start or stop cleanly.
constexpr DWORD kServiceFailedExitCode = 1;

// The SERVICE_STATUS of a state, with no checkpoint yet.
SERVICE_STATUS ServiceStatusOf(TServiceState State, bool Failed);

class TServiceStatusReporter {
 public:
  // Send hands one status to the manager; false when it refused it.
  using TSend = std::function<bool(const SERVICE_STATUS& Status)>;
  TServiceStatusReporter(TSend Send, std::chrono::milliseconds Tick);
  // Stops the ticks.
  ~TServiceStatusReporter();
  TServiceStatusReporter(const TServiceStatusReporter&) = delete;
  TServiceStatusReporter& operator=(const TServiceStatusReporter&) = delete;

  // A TStatusReport: sends the state at once (a pending one with checkpoint 1, then ticking
  // on); raises ESystemError when the manager refuses it. A refused tick is let pass: the
  // next one, or the next state, tries again.
  void Report(TServiceState State, bool Failed);

 private:
  void Tick();

  TSend FSend;
  std::chrono::milliseconds FTickInterval;
  std::mutex FLock;
  std::condition_variable FChanged;
  SERVICE_STATUS FStatus{};  // the last one sent
  bool FQuit = false;
  std::thread FTicker;
};

}  // namespace dct
