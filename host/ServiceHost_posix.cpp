#include "host/ServiceHost.h"

#include "host/ServiceInstaller.h"

namespace dct {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + (argc > 0 ? argc : 0));
}

void InstallHostService(const THostOptions& Options, const std::string& ProgramPath) {
  TSystemctl systemctl;
  InstallService(Options.UnitDir, ProgramPath, UnitDirIsSystemd(Options.UnitDir) ? &systemctl : nullptr);
}

void UninstallHostService(const THostOptions& Options) {
  TSystemctl systemctl;
  UninstallService(Options.UnitDir, UnitDirIsSystemd(Options.UnitDir) ? &systemctl : nullptr);
}

int RunHostService(const THostOptions& /*Options*/, IServiceRun& Service, TStopSignal& Stop) {
  TEventLog eventLog(StartedBySystemd());
  return RunInForeground(Service, eventLog, Stop);
}

}  // namespace dct
