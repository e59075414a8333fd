// Readiness, stopping and a start that needs more time, reported to systemd for a
// Type=notify unit. Outside systemd ($NOTIFY_SOCKET unset), and on Windows, where the status
// reports tell the service control manager, each does nothing.
#pragma once

#include <chrono>

namespace dct {

// Return whether systemd was told.
bool NotifyReady();
bool NotifyStopping();
// The start is still making progress: its timeout ends More from now, not earlier
// (EXTEND_TIMEOUT_USEC).
bool NotifyExtendStartTimeout(std::chrono::microseconds More);

}  // namespace dct
