#include "host/ServiceNotify.h"

namespace dct {

// The service control manager learns of readiness and stopping from the status reports of
// the control thread; run with --console there is no one to tell.
bool NotifyReady() { return false; }
bool NotifyStopping() { return false; }
bool NotifyExtendStartTimeout(std::chrono::microseconds) { return false; }

}  // namespace dct
