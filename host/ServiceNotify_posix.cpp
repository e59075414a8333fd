#include "host/ServiceNotify.h"

#include <systemd/sd-daemon.h>

namespace dct {

bool NotifyReady() { return sd_notify(0, "READY=1") > 0; }
bool NotifyStopping() { return sd_notify(0, "STOPPING=1") > 0; }

}  // namespace dct
