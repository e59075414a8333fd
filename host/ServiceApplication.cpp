#include "host/ServiceApplication.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "buffer/SQLite3.h"
#include "device/uDevice.h"
#include "host/BackupCommand.h"
#include "host/CommandLine.h"
#include "host/DocumentExport.h"
#include "host/EventLog.h"
#include "host/ItemImport.h"
#include "host/OperatorStop.h"
#include "host/ServiceDefinition.h"
#include "host/ServiceHost.h"
#include "host/StatusClient.h"
#include "host/StopSignal.h"
#include "host/ufmSvcMain.h"
#include "service/HTTPBridge.h"
#include "service/ufmWebModule.h"
#include "support/BaseLog.h"
#include "support/uCommonUtils.h"
#include "support/uConsole.h"
#include "support/uProcessMemory.h"

namespace dct {

namespace {

// The single device as the service sees it.
class TDeviceAdapter : public IHostedDevice {
 public:
  explicit TDeviceAdapter(TDevice& Device) : FDevice(Device) {}
  int Enable() override { return FDevice.Enable(); }
  void Disable() override { FDevice.Disable(); }
  bool Enabled() const override { return FDevice.Enabled(); }
  std::string GetResultDescription(int ResultCode) const override {
    return FDevice.GetResultDescription(ResultCode);
  }
  std::string StartWarning() const override { return FDevice.StartWarning(); }

 private:
  TDevice& FDevice;
};

// The units after the log-file naming: the device context, the web module over it, the
// listener serving the web module, and the single device switching the listener. Members
// are made in that order and destroyed in reverse; the device goes first of all, since its
// Disable stops the listener and waits for the command running under the context's lock.
class TProgramUnits {
 public:
  TProgramUnits(uint16_t Port, std::vector<std::string> AllowedOrigins) {
    FListener.SetPort(Port);  // not listening until the device is enabled
    FListener.SetAllowedOrigins(std::move(AllowedOrigins));
    FContext.SetListenerSwitch(&FListener);
    FContext.CreateSingleDevice();
  }
  ~TProgramUnits() {
    FContext.FreeSingleDevice();
    FContext.SetListenerSwitch(nullptr);
  }
  TProgramUnits(const TProgramUnits&) = delete;
  TProgramUnits& operator=(const TProgramUnits&) = delete;

  TDevice* SingleDevice() const { return FContext.GetSingleDevice(); }

 private:
  TDeviceContext FContext;
  const TWebModule1 FWebModule{FContext};
  THTTPBridge FListener{[this](TWebRequest& Request) { return FWebModule.HandleRequest(Request); }};
};

// A Windows console gets the report as UTF-16, a pipe or file the UTF-8 bytes.
void PrintTo(std::FILE* stream, const std::string& text) { WriteText(stream, text + "\n"); }

int Install(const THostOptions& Options) {
  try {
    InstallHostService(Options, GetModuleFilePath());
  } catch (const std::exception& e) {
    PrintTo(stderr, FillFormat(kInstallFailedFormat, kServiceDisplayName, e.what()));
    return kExitFailure;
  }
  if (!Options.Silent) PrintTo(stdout, kInstalledText);
  return kExitOk;
}

int Uninstall(const THostOptions& Options) {
  try {
    UninstallHostService(Options);
  } catch (const std::exception& e) {
    PrintTo(stderr, FillFormat(kUninstallFailedFormat, kServiceDisplayName, e.what()));
    return kExitFailure;
  }
  if (!Options.Silent) PrintTo(stdout, kUninstalledText);
  return kExitOk;
}

// The service object over the single device, made when the host knows its event log.
class TServiceRun : public IServiceRun {
 public:
  TServiceRun(const TBaseLog& LogNaming, TDevice* Single) : FLogNaming(LogNaming), FSingle(Single) {}

  bool Start(IEventSink& EventLog) override {
    FEventLog = &EventLog;
    if (FLogNaming.IsHost() && FLogNaming.LogFileName()[0] == '\0') {
      EventLog.Write({TEventType::Error, kEventCategory, kNoLogFolderEventId, kNoLogFolderText});
    }
    if (FSingle == nullptr) {
      WriteFailure("start", "the device does not exist");
      return false;
    }
    FDevice.emplace(*FSingle);
    FService.emplace(*FDevice, EventLog);
    return FService->ServiceStart();
  }
  bool Stop() override { return FService && FService->ServiceStop(); }
  bool Shutdown() override { return FService && FService->ServiceShutdown(); }
  void WriteFailure(const std::string& Request, const std::string& Message) override {
    if (FEventLog == nullptr) return;
    FEventLog->Write({TEventType::Error, kEventCategory, kServiceFailedEventId,
                      FillFormat(kServiceFailedFormat, Request, Message)});
  }

 private:
  const TBaseLog& FLogNaming;
  TDevice* FSingle;
  IEventSink* FEventLog = nullptr;
  std::optional<TDeviceAdapter> FDevice;
  std::optional<Tdct_korvelmobile> FService;
};

// A relative --data-root names the same folder whatever the working folder later is.
std::string AbsoluteFolder(const std::string& folder) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
  return error ? folder : absolute.lexically_normal().string();
}

int RunUnits(int argc, char** argv) {
  // No thread exists before the stop handling below is chosen: the service blocks its stop
  // signals (every later thread inherits that), an operator command ends at once on them.
  const std::vector<std::string> args = ProgramArguments(argc, argv);
  const std::string program = args.empty() ? kServiceName : ModuleBaseName(args[0]);
  THostOptions options;
  std::string error;
  if (!ParseCommandLine(std::vector<std::string>(args.begin() + (args.empty() ? 0 : 1), args.end()), options,
                        error)) {
    PrintTo(stderr, program + ": " + error + "\nTry \"" + program + " --help\".");
    return kExitBadCommandLine;
  }
  if (options.Help) {
    std::fputs(UsageText(program).c_str(), stdout);
    return kExitOk;
  }
  const bool operatorCommand =
      options.Status || options.ImportItemsFile || options.ExportDir || options.BackupFile;
  if (operatorCommand) EndAtOnceOnStop();
  // A client of the running service: nothing of the service's own is made.
  if (options.Status) return RunStatusCommand(options, program, stdout, stderr);
  if (options.ImportItemsFile) return RunImportItemsCommand(options, program, stdout, stderr);
  if (options.ExportDir) return RunExportDocumentsCommand(options, program, stdout, stderr);
  if (options.DataRoot) SetCommonAppDataRoot(AbsoluteFolder(*options.DataRoot));
  if (options.SQLiteLibrary) SetSQLiteLibraryName(*options.SQLiteLibrary);
  // Beside the running service, on its file: nothing of the service's own is made either.
  if (options.BackupFile) {
    const std::string root =
        options.DataRoot ? AbsoluteFolder(*options.DataRoot) : DefaultCommonAppDataFolder();
    return RunBackupCommand(root, *options.BackupFile, program, stdout, stderr);
  }

  TStopSignal stop;  // before any thread: every thread started later inherits the blocked signals
  // The log-file naming is the first unit to start and the last to end.
  TBaseLog logNaming;
  TProgramUnits units(options.Port, options.AllowedOrigins);
  if (options.Install) return Install(options);
  if (options.Uninstall) return Uninstall(options);
  TServiceRun service(logNaming, units.SingleDevice());
  return RunHostService(options, service, stop);
}

}  // namespace

int RunProgram(int argc, char** argv) {
  ConfigureServerAllocator();  // before any thread exists
  try {
    return RunUnits(argc, argv);
  } catch (const std::exception& e) {
    // Only a unit's own start-up can get here; the service's failures are its entries.
    PrintTo(stderr, std::string(kServiceName) + ": " + e.what());
  }
  return kExitFailure;
}

}  // namespace dct
