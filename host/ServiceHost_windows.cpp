#include "host/ServiceHost.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <utility>

#include "host/ServiceDefinition.h"
#include "host/ServiceHost_windows.h"
#include "host/ServiceRegistry.h"
#include "support/uCommonUtils.h"
#include "support/uConsole.h"
#include "support/uWideText.h"

namespace dct {

namespace {

// The run handed from RunHostService to the service main and its control handler: the
// dispatcher calls them on threads of its own, with no argument of ours.
IServiceRun* GService = nullptr;
TControlQueue* GControls = nullptr;
SERVICE_STATUS_HANDLE GStatusHandle = nullptr;
// Set before the stopped report: the dispatcher may return before the service main does.
std::atomic<int> GExitStatus{kExitFailure};

DWORD WINAPI OnServiceControl(DWORD control, DWORD /*eventType*/, LPVOID /*eventData*/, LPVOID /*context*/) {
  switch (control) {
    case SERVICE_CONTROL_STOP: GControls->Post(TServiceControl::Stop); return NO_ERROR;
    // Before the shutdown itself, the manager waits for a stop whose checkpoints move; at the
    // shutdown it waits a few seconds only.
    case SERVICE_CONTROL_PRESHUTDOWN:
    case SERVICE_CONTROL_SHUTDOWN: GControls->Post(TServiceControl::Shutdown); return NO_ERROR;
    case SERVICE_CONTROL_PAUSE: GControls->Post(TServiceControl::Pause); return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE: GControls->Post(TServiceControl::Continue); return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: GControls->Post(TServiceControl::Interrogate); return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

bool Pending(const SERVICE_STATUS& Status) {
  return Status.dwCurrentState == SERVICE_START_PENDING || Status.dwCurrentState == SERVICE_STOP_PENDING;
}

void WINAPI ServiceMain(DWORD /*argc*/, LPWSTR* /*argv*/) {
  TEventLog eventLog(true);
  GStatusHandle = RegisterServiceCtrlHandlerExW(Utf8ToWide(kServiceName).c_str(), OnServiceControl, nullptr);
  if (GStatusHandle == nullptr) {
    eventLog.Write({TEventType::Error, kEventCategory, kServiceFailedEventId,
                    FillFormat(kServiceFailedFormat, "start", SystemErrorText(GetLastError()))});
    return;
  }
  TServiceStatusReporter reporter(
      [](const SERVICE_STATUS& status) {
        SERVICE_STATUS copy = status;
        return SetServiceStatus(GStatusHandle, &copy) != FALSE;
      },
      kPendingTick);
  RunControlThread(*GService, eventLog, *GControls, [&](TServiceState State, bool Failed) {
    if (State == TServiceState::Stopped) GExitStatus = Failed ? kExitFailure : kExitOk;
    reporter.Report(State, Failed);
  });
}

}  // namespace

SERVICE_STATUS ServiceStatusOf(TServiceState State, bool Failed) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  switch (State) {
    case TServiceState::StartPending:
      status.dwCurrentState = SERVICE_START_PENDING;
      status.dwWaitHint = kStartWaitHintMs;
      break;
    case TServiceState::Running: status.dwCurrentState = SERVICE_RUNNING; break;
    case TServiceState::Paused: status.dwCurrentState = SERVICE_PAUSED; break;
    case TServiceState::StopPending:
      status.dwCurrentState = SERVICE_STOP_PENDING;
      status.dwWaitHint = kStopWaitHintMs;
      break;
    case TServiceState::Stopped: status.dwCurrentState = SERVICE_STOPPED; break;
  }
  if (State == TServiceState::Running || State == TServiceState::Paused) {
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE |
                                SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN;
  }
  if (Failed) {
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = kServiceFailedExitCode;
  }
  return status;
}

TServiceStatusReporter::TServiceStatusReporter(TSend Send, std::chrono::milliseconds Tick)
    : FSend(std::move(Send)), FTickInterval(Tick), FTicker([this] { this->Tick(); }) {}

TServiceStatusReporter::~TServiceStatusReporter() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FQuit = true;
  }
  FChanged.notify_all();
  FTicker.join();
}

void TServiceStatusReporter::Report(TServiceState State, bool Failed) {
  std::unique_lock<std::mutex> lock(FLock);
  FStatus = ServiceStatusOf(State, Failed);
  FStatus.dwCheckPoint = Pending(FStatus) ? 1 : 0;
  // Sent under the lock, so that no tick of the state before can follow the new one.
  if (!FSend(FStatus)) {
    const DWORD error = GetLastError();
    throw ESystemError(error, SystemErrorText(error));
  }
  lock.unlock();
  FChanged.notify_all();  // the next tick counts from now
}

void TServiceStatusReporter::Tick() {
  std::unique_lock<std::mutex> lock(FLock);
  while (!FQuit) {
    const SERVICE_STATUS before = FStatus;
    const bool changed = FChanged.wait_for(lock, FTickInterval, [&] {
      return FQuit || FStatus.dwCurrentState != before.dwCurrentState ||
             FStatus.dwCheckPoint != before.dwCheckPoint;
    });
    if (changed || !Pending(FStatus)) continue;
    ++FStatus.dwCheckPoint;
    FSend(FStatus);
  }
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + (argc > 0 ? argc : 0));
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(WideToUtf8(wide[i]));
  LocalFree(wide);
  return args;
}

// A firewall rule that could not be added or removed is reported even with SILENT: the
// service stands, but terminals may not reach it.
void InstallHostService(const THostOptions& /*Options*/, const std::string& ProgramPath) {
  TWindowsServiceRegistry registry;
  TWindowsFirewall firewall;
  const std::string warning = RegisterService(registry, firewall, ProgramPath);
  if (!warning.empty()) WriteText(stderr, warning + "\n");
}

void UninstallHostService(const THostOptions& /*Options*/) {
  TWindowsServiceRegistry registry;
  TWindowsFirewall firewall;
  const std::string warning = UnregisterService(registry, firewall, GetModuleFilePath());
  if (!warning.empty()) WriteText(stderr, warning + "\n");
}

int RunHostService(const THostOptions& Options, IServiceRun& Service, TStopSignal& Stop) {
  if (Options.Console) {
    TEventLog eventLog(true, true);
    return RunInForeground(Service, eventLog, Stop);
  }
  TControlQueue controls;
  GService = &Service;
  GControls = &controls;
  static wchar_t serviceName[] = L"dct_korvelmobile";
  SERVICE_TABLE_ENTRYW table[] = {{serviceName, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    const DWORD error = GetLastError();
    WriteToSystemLog(ProgramFileName(GetModuleFilePath()),
                     {TEventType::Error, kEventCategory, kServiceFailedEventId, SystemErrorText(error)});
    return kExitFailure;
  }
  return GExitStatus;
}

}  // namespace dct
