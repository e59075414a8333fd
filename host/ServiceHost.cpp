#include "host/ServiceHost.h"

#include <exception>

#include "host/ServiceDefinition.h"
#include "host/ServiceNotify.h"

namespace dct {

namespace {

// Runs Step; a raise becomes the failure entry of Request. Returns whether Step succeeded.
bool Attempt(IServiceRun& Service, const char* Request, const std::function<void()>& Step) {
  try {
    Step();
    return true;
  } catch (const std::exception& e) {
    Service.WriteFailure(Request, e.what());
  } catch (...) {
    Service.WriteFailure(Request, "unknown exception");
  }
  return false;
}

}  // namespace

int RunInForeground(IServiceRun& Service, IEventSink& EventLog, TStopSignal& Stop) {
  if (!Service.Start(EventLog)) return kExitFailure;
  NotifyReady();
  Stop.Wait();
  NotifyStopping();
  return Service.Stop() ? kExitOk : kExitFailure;
}

const char* ControlName(TServiceControl Control) {
  switch (Control) {
    case TServiceControl::Stop: return "stop";
    case TServiceControl::Shutdown: return "shutdown";
    case TServiceControl::Pause: return "pause";
    case TServiceControl::Continue: return "continue";
    case TServiceControl::Interrogate: return "interrogate";
  }
  return "control";
}

void TControlQueue::Post(TServiceControl Control) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FControls.push_back(Control);
  }
  FPosted.notify_one();
}

TServiceControl TControlQueue::Take() {
  std::unique_lock<std::mutex> lock(FLock);
  FPosted.wait(lock, [this] { return !FControls.empty(); });
  const TServiceControl control = FControls.front();
  FControls.pop_front();
  return control;
}

int RunControlThread(IServiceRun& Service, IEventSink& EventLog, TControlQueue& Controls,
                     const TStatusReport& Report) {
  try {
    Report(TServiceState::StartPending, false);
  } catch (const std::exception& e) {
    // Not started yet, so the service has no event log of its own to write this to.
    EventLog.Write({TEventType::Error, kEventCategory, kServiceFailedEventId,
                    FillFormat(kServiceFailedFormat, "start", e.what())});
    return kExitFailure;
  }
  if (!Service.Start(EventLog)) {
    Attempt(Service, "start", [&] { Report(TServiceState::Stopped, true); });
    return kExitFailure;
  }
  TServiceState state = TServiceState::Running;
  Attempt(Service, "start", [&] { Report(state, false); });
  for (;;) {
    const TServiceControl control = Controls.Take();
    const char* name = ControlName(control);
    switch (control) {
      case TServiceControl::Stop:
      case TServiceControl::Shutdown: {
        Attempt(Service, name, [&] { Report(TServiceState::StopPending, false); });
        const bool clean = control == TServiceControl::Stop ? Service.Stop() : Service.Shutdown();
        Attempt(Service, name, [&] { Report(TServiceState::Stopped, !clean); });
        return clean ? kExitOk : kExitFailure;
      }
      case TServiceControl::Pause:
        if (Attempt(Service, name, [&] { Report(TServiceState::Paused, false); }))
          state = TServiceState::Paused;
        break;
      case TServiceControl::Continue:
        if (Attempt(Service, name, [&] { Report(TServiceState::Running, false); }))
          state = TServiceState::Running;
        break;
      case TServiceControl::Interrogate: Attempt(Service, name, [&] { Report(state, false); }); break;
    }
  }
}

}  // namespace dct
