#include "host/ServiceNotify.h"

#include <systemd/sd-daemon.h>

namespace dct {

bool NotifyReady() { return sd_notify(0, "READY=1") > 0; }
bool NotifyStopping() { return sd_notify(0, "STOPPING=1") > 0; }
bool NotifyExtendStartTimeout(std::chrono::microseconds More) {
  return sd_notifyf(0, "EXTEND_TIMEOUT_USEC=%lld", static_cast<long long>(More.count())) > 0;
}

}  // namespace dct
