// How the service is installed and run on this platform, behind the portable program flow
// of ServiceApplication.cpp.
//
//   POSIX (ServiceHost_posix.cpp): INSTALL and UNINSTALL write and remove the systemd unit
//     (ServiceInstaller.h). With no switch the service runs in the foreground
//     (RunInForeground); its entries go to the journal under systemd, else to standard error.
//   Windows (ServiceHost_windows.cpp): INSTALL and UNINSTALL register and remove the service
//     and its event-log source (ServiceRegistry.h). With no switch the program connects to
//     the service control manager, whose service main runs RunControlThread; when the
//     connection fails, the system's text of the error goes to the event log under the
//     program's file name and the program ends with status 1. --console runs the service in
//     the foreground as on POSIX, every entry both in the event log and on standard error.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "host/CommandLine.h"
#include "host/EventLog.h"
#include "host/StopSignal.h"

namespace dct {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;

// The service over the single device, as a host drives it (ServiceApplication.cpp makes it;
// tests give a fake).
class IServiceRun {
 public:
  virtual ~IServiceRun() = default;
  // Writes the start's entries to EventLog, which serves the rest of the run too. Returns
  // whether the service runs.
  virtual bool Start(IEventSink& EventLog) = 0;
  // Each returns false when it failed (and wrote its entry).
  virtual bool Stop() = 0;
  virtual bool Shutdown() = 0;
  // "Service failed on <Request>: <Message>" in the event log given to Start.
  virtual void WriteFailure(const std::string& Request, const std::string& Message) = 0;
};

// Start; when the service runs, report readiness, wait for Stop, report stopping and stop.
// Returns the exit status: 0 when it started and stopped cleanly.
int RunInForeground(IServiceRun& Service, IEventSink& EventLog, TStopSignal& Stop);

// The service manager's view of the service, and the requests it sends.
enum class TServiceState { StartPending, Running, Paused, StopPending, Stopped };
enum class TServiceControl { Stop, Shutdown, Pause, Continue, Interrogate };
// "stop", "shutdown", "pause", "continue", "interrogate": the request in a failure entry.
const char* ControlName(TServiceControl Control);

// Requests on their way from the service manager's handler to the control thread, in order.
class TControlQueue {
 public:
  void Post(TServiceControl Control);
  TServiceControl Take();  // waits for the next one

 private:
  std::mutex FLock;
  std::condition_variable FPosted;
  std::deque<TServiceControl> FControls;
};

// Tells the service manager the state; Failed only with Stopped, for a run that did not end
// cleanly. Raises std::exception when the manager cannot be told.
using TStatusReport = std::function<void(TServiceState State, bool Failed)>;

// The service's control thread: reports start pending, starts, then handles the requests one
// at a time until a stop or a shutdown, reporting every state. Pause and continue only
// change the state: the device stays enabled and the listener keeps answering. A request
// that raises is written as "Service failed on <request>: <message>" and the service goes
// on. Returns the exit status, as RunInForeground.
int RunControlThread(IServiceRun& Service, IEventSink& EventLog, TControlQueue& Controls,
                     const TStatusReport& Report);

// ---------------------------------------------------------------------------------------
// Platform calls (ServiceHost_posix.cpp, ServiceHost_windows.cpp).

// The command line as UTF-8, the program's name first (Windows reads the UTF-16 original).
std::vector<std::string> ProgramArguments(int argc, char** argv);
// INSTALL and UNINSTALL of the program at ProgramPath. Raise std::runtime_error whose
// what() is the error text of the report.
void InstallHostService(const THostOptions& Options, const std::string& ProgramPath);
void UninstallHostService(const THostOptions& Options);
// Runs the service as this platform does with no switch; returns the exit status.
int RunHostService(const THostOptions& Options, IServiceRun& Service, TStopSignal& Stop);

}  // namespace dct
