#include "host/ServiceHost.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>

#include "host/ServiceDefinition.h"
#include "host/ServiceRegistry.h"
#include "support/uWideText.h"

namespace dct {

namespace {

// What the service manager waits for before it gives up on a pending start or stop.
constexpr DWORD kStartWaitHintMs = 5000;
constexpr DWORD kStopWaitHintMs = 5000;
// Service-specific exit code of a run that did not start or stop cleanly.
constexpr DWORD kServiceFailedExitCode = 1;

// The run handed from RunHostService to the service main and its control handler: the
// dispatcher calls them on threads of its own, with no argument of ours.
IServiceRun* GService = nullptr;
TControlQueue* GControls = nullptr;
SERVICE_STATUS_HANDLE GStatusHandle = nullptr;
DWORD GCheckPoint = 0;
// Set before the stopped report: the dispatcher may return before the service main does.
std::atomic<int> GExitStatus{kExitFailure};

DWORD WINAPI OnServiceControl(DWORD control, DWORD /*eventType*/, LPVOID /*eventData*/, LPVOID /*context*/) {
  switch (control) {
    case SERVICE_CONTROL_STOP: GControls->Post(TServiceControl::Stop); return NO_ERROR;
    case SERVICE_CONTROL_SHUTDOWN: GControls->Post(TServiceControl::Shutdown); return NO_ERROR;
    case SERVICE_CONTROL_PAUSE: GControls->Post(TServiceControl::Pause); return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE: GControls->Post(TServiceControl::Continue); return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: GControls->Post(TServiceControl::Interrogate); return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void ReportStatus(TServiceState State, bool Failed) {
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
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
  }
  status.dwCheckPoint = status.dwWaitHint != 0 ? ++GCheckPoint : 0;
  if (State == TServiceState::Stopped) GExitStatus = Failed ? kExitFailure : kExitOk;
  if (Failed) {
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = kServiceFailedExitCode;
  }
  if (!SetServiceStatus(GStatusHandle, &status)) {
    const DWORD error = GetLastError();
    throw ESystemError(error, SystemErrorText(error));
  }
}

void WINAPI ServiceMain(DWORD /*argc*/, LPWSTR* /*argv*/) {
  TEventLog eventLog(true);
  GStatusHandle = RegisterServiceCtrlHandlerExW(Utf8ToWide(kServiceName).c_str(), OnServiceControl, nullptr);
  if (GStatusHandle == nullptr) {
    eventLog.Write({TEventType::Error, kEventCategory, kServiceFailedEventId,
                    FillFormat(kServiceFailedFormat, "start", SystemErrorText(GetLastError()))});
    return;
  }
  RunControlThread(*GService, eventLog, *GControls, ReportStatus);
}

// The program's file name with its extension: the event source when the service manager
// cannot be reached.
std::string ProgramFileName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return kServiceName;
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/");
  return WideToUtf8(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + (argc > 0 ? argc : 0));
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(WideToUtf8(wide[i]));
  LocalFree(wide);
  return args;
}

void InstallHostService(const THostOptions& /*Options*/, const std::string& ProgramPath) {
  TWindowsServiceRegistry registry;
  RegisterService(registry, ProgramPath);
}

void UninstallHostService(const THostOptions& /*Options*/) {
  TWindowsServiceRegistry registry;
  UnregisterService(registry);
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
    WriteToSystemLog(ProgramFileName(),
                     {TEventType::Error, kEventCategory, kServiceFailedEventId, SystemErrorText(error)});
    return kExitFailure;
  }
  return GExitStatus;
}

}  // namespace dct
