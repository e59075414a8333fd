// Tdct_korvelmobile: the service object. Its only link to the rest of the system is the
// single device: starting the service enables the device (which opens its data buffer and
// switches the HTTP listener on), stopping it disables the device. Every start writes its
// outcome to the event log:
//
//   Enable returned 0         information, event 1  "Служба успешно запущена"
//   Enable returned code C    error, event 1        "Ошибка запуска службы: " + description of C
//   Enable raised message M   error, event 0        "Service failed on start: " + M
//
// A failure of the stop or the shutdown is written as "Service failed on stop: " + M (or
// "on shutdown"), error, event 0; the host writes failures of the other requests the same way.
// Both handlers run on the control thread, one at a time, and take no lock: the device's
// Disable stops the listener and waits for running commands itself.
#pragma once

#include <string>

#include "host/EventLog.h"

namespace dct {

// What the service needs of the device (the single TDevice; tests give a fake).
class IHostedDevice {
 public:
  virtual ~IHostedDevice() = default;
  virtual int Enable() = 0;
  virtual void Disable() = 0;
  virtual bool Enabled() const = 0;
  virtual std::string GetResultDescription(int ResultCode) const = 0;
};

class Tdct_korvelmobile {
 public:
  Tdct_korvelmobile(IHostedDevice& Device, IEventSink& EventLog) : FDevice(Device), FEventLog(EventLog) {}

  // Enables the device and writes the outcome. Returns whether the service runs, which is
  // exactly when the device is enabled afterwards.
  bool ServiceStart();
  // Disables the device. Returns false (and writes the entry) when Disable raised.
  bool ServiceStop();
  // The machine shuts down: the same Disable, its failure written as the shutdown's.
  bool ServiceShutdown();
  // "Service failed on <Request>: <Message>", error, event 0.
  void WriteFailure(const std::string& Request, const std::string& Message);

 private:
  bool DisableAs(const std::string& Request);

  IHostedDevice& FDevice;
  IEventSink& FEventLog;
};

}  // namespace dct
