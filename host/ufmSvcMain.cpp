#include "host/ufmSvcMain.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "host/ServiceDefinition.h"
#include "host/ServiceNotify.h"

namespace dct {

namespace {

// Asks for more start time until it goes out of scope, kStartExtendAtMost at most.
class TStartExtension {
 public:
  TStartExtension(const TStartExtender& extend, std::chrono::milliseconds every) {
    if (!extend) return;
    FThread = std::thread([this, extend, every] {
      const auto until = std::chrono::steady_clock::now() + kStartExtendAtMost;
      std::unique_lock<std::mutex> lock(FLock);
      while (!FCondition.wait_for(lock, every, [this] { return FDone; })) {
        if (std::chrono::steady_clock::now() >= until) return;
        lock.unlock();
        const bool told = extend(kStartExtendBy);
        lock.lock();
        if (!told) return;  // no service manager: nobody times the start
      }
    });
  }
  ~TStartExtension() {
    {
      std::lock_guard<std::mutex> guard(FLock);
      FDone = true;
    }
    FCondition.notify_all();
    if (FThread.joinable()) FThread.join();
  }
  TStartExtension(const TStartExtension&) = delete;
  TStartExtension& operator=(const TStartExtension&) = delete;

 private:
  std::mutex FLock;
  std::condition_variable FCondition;
  bool FDone = false;
  std::thread FThread;
};

}  // namespace

TStartExtender Tdct_korvelmobile::DefaultStartExtender() { return &NotifyExtendStartTimeout; }

bool Tdct_korvelmobile::ServiceStart() {
  int code = 0;
  try {
    const TStartExtension extension(FExtend, FExtendEvery);
    code = FDevice.Enable();
  } catch (const std::exception& e) {
    WriteFailure("start", e.what());
    return false;
  } catch (...) {
    WriteFailure("start", "unknown exception");
    return false;
  }
  const bool started = FDevice.Enabled();
  TEventEntry entry;
  entry.Category = kEventCategory;
  entry.EventId = kStartEventId;
  if (code != 0) {
    entry.Type = TEventType::Error;
    entry.Text = kStartFailedText + FDevice.GetResultDescription(code);
  } else {
    entry.Type = TEventType::Information;
    entry.Text = kStartSucceededText;
    const std::string warning = FDevice.StartWarning();
    if (!warning.empty())
      FEventLog.Write({TEventType::Warning, kEventCategory, kStartWarningEventId, warning});
  }
  FEventLog.Write(entry);
  return started;
}

bool Tdct_korvelmobile::ServiceStop() { return DisableAs("stop"); }

bool Tdct_korvelmobile::ServiceShutdown() { return DisableAs("shutdown"); }

bool Tdct_korvelmobile::DisableAs(const std::string& Request) {
  try {
    FDevice.Disable();
    return true;
  } catch (const std::exception& e) {
    WriteFailure(Request, e.what());
  } catch (...) {
    WriteFailure(Request, "unknown exception");
  }
  return false;
}

void Tdct_korvelmobile::WriteFailure(const std::string& Request, const std::string& Message) {
  TEventEntry entry;
  entry.Type = TEventType::Error;
  entry.Category = kEventCategory;
  entry.EventId = kServiceFailedEventId;
  entry.Text = FillFormat(kServiceFailedFormat, Request, Message);
  FEventLog.Write(entry);
}

}  // namespace dct
