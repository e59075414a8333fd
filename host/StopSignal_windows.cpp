#include "host/StopSignal.h"

#include <windows.h>

#include <atomic>

namespace dct {

namespace {

// Set by the console's control thread, taken by Wait; auto-reset, so a request that comes
// before the wait is kept for it.
HANDLE GStopEvent = nullptr;
std::atomic<int> GLastControl{CTRL_C_EVENT};

BOOL WINAPI OnConsoleControl(DWORD control) {
  switch (control) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      GLastControl = static_cast<int>(control);
      SetEvent(GStopEvent);
      return TRUE;
    default: return FALSE;  // log-off and shutdown reach a service through its control handler
  }
}

}  // namespace

TStopSignal::TStopSignal() {
  static const bool installed = [] {
    GStopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return GStopEvent != nullptr && SetConsoleCtrlHandler(OnConsoleControl, TRUE) != FALSE;
  }();
  (void)installed;
}

int TStopSignal::Wait() {
  // Without the event there is nothing to wait for: treat it as a stop rather than block.
  if (GStopEvent == nullptr || WaitForSingleObject(GStopEvent, INFINITE) != WAIT_OBJECT_0)
    return CTRL_C_EVENT;
  return GLastControl;
}

}  // namespace dct
