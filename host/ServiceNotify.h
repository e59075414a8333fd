// Readiness and stopping, reported to systemd for a Type=notify unit. Outside systemd
// ($NOTIFY_SOCKET unset), and on Windows, where the status reports tell the service control
// manager, both do nothing.
#pragma once

namespace dct {

// Return whether systemd was told.
bool NotifyReady();
bool NotifyStopping();

}  // namespace dct
