// Tdct_korvelmobile: the service object. Its only link to the rest of the system is the
// single device: starting the service enables the device (which opens its data buffer and
// switches the HTTP listener on), stopping it disables the device. Every start writes its
// outcome to the event log:
//
//   Enable returned 0         information, event 1  "Служба успешно запущена", preceded by
//                             warning, event 3 with the device's StartWarning if it has one
//                             (the database could not be compacted for want of disk space)
//   Enable returned code C    error, event 1        "Ошибка запуска службы: " + description of C
//   Enable raised message M   error, event 0        "Service failed on start: " + M
//
// A failure of the stop or the shutdown is written as "Service failed on stop: " + M (or
// "on shutdown"), error, event 0; the host writes failures of the other requests the same way.
// Both handlers run on the control thread, one at a time, and take no lock: the device's
// Disable stops the listener and waits for running commands itself.
//
// While Enable runs (a VACUUM of a large database takes minutes on a slow disk), a thread of
// the start asks the service manager for more time every kStartExtendEvery, so a slow start
// is not taken for a hung one; a start that takes longer than kStartExtendAtMost is no
// longer extended.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>

#include "host/EventLog.h"

namespace dct {

constexpr int kStartWarningEventId = 3;

// Each extension reaches kStartExtendBy past the moment it is asked, asked every
// kStartExtendEvery: two requests may be lost before the start times out.
constexpr std::chrono::seconds kStartExtendEvery{10};
constexpr std::chrono::seconds kStartExtendBy{30};
// Compacting a database of several GiB on a slow disk stays well within this; a start that
// still runs then is stuck, and the service manager's own timeout should end it.
constexpr std::chrono::minutes kStartExtendAtMost{30};

// Asks the service manager for more time; false when there is none to ask.
using TStartExtender = std::function<bool(std::chrono::microseconds More)>;

// What the service needs of the device (the single TDevice; tests give a fake).
class IHostedDevice {
 public:
  virtual ~IHostedDevice() = default;
  virtual int Enable() = 0;
  virtual void Disable() = 0;
  virtual bool Enabled() const = 0;
  virtual std::string GetResultDescription(int ResultCode) const = 0;
  // What an Enable that returned 0 left for the operator; empty when nothing.
  virtual std::string StartWarning() const { return {}; }
};

class Tdct_korvelmobile {
 public:
  // Extend asks for more start time every ExtendEvery while Enable runs (tests pass their own).
  Tdct_korvelmobile(IHostedDevice& Device, IEventSink& EventLog,
                    TStartExtender Extend = DefaultStartExtender(),
                    std::chrono::milliseconds ExtendEvery = kStartExtendEvery)
      : FDevice(Device), FEventLog(EventLog), FExtend(std::move(Extend)), FExtendEvery(ExtendEvery) {}
  // The service manager's (NotifyExtendStartTimeout).
  static TStartExtender DefaultStartExtender();

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
  TStartExtender FExtend;
  std::chrono::milliseconds FExtendEvery;
};

}  // namespace dct
