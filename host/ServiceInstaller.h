// INSTALL and UNINSTALL: the systemd unit dct_korvelmobile.service.
//
// Install writes the unit file (never over an existing one), then lets the service manager
// reload its units and enable this one; a failure after the file was written removes the
// file again, so a failed install leaves nothing behind. Uninstall disables the unit, then
// removes the file, then reloads (a failed reload at that point is ignored: the unit is
// gone from disk).
//
// The service manager is asked only where it takes part: systemd running
// (/run/systemd/system exists) and the unit folder being the one systemd reads
// (/etc/systemd/system). Any other --unit-dir only gets the file (staging, tests).
//
// Failures raise std::runtime_error whose what() is the error text of the report.
#pragma once

#include <string>
#include <vector>

namespace dct {

// The unit layout (packaging/dct_korvelmobile.service.in) with its @NAME@ placeholders.
const char* UnitFileTemplate();
// The unit file for a program at ProgramPath.
std::string UnitFileText(const std::string& ProgramPath);
// ProgramPath as the executable word of ExecStart, read back by systemd as exactly that path:
// quoted when it holds blanks or quotes; "%" doubled, since specifiers are expanded
// everywhere; "$" as it is, since variables are substituted only in the arguments.
std::string ExecStartWord(const std::string& ProgramPath);

// What install and uninstall need of the service manager. Each raises on failure.
class IServiceManager {
 public:
  virtual ~IServiceManager() = default;
  virtual void Reload() = 0;
  virtual void EnableUnit(const std::string& Unit) = 0;
  virtual void DisableUnit(const std::string& Unit) = 0;
};

// systemctl daemon-reload / enable / disable (ServiceInstaller_posix.cpp).
class TSystemctl : public IServiceManager {
 public:
  void Reload() override;
  void EnableUnit(const std::string& Unit) override;
  void DisableUnit(const std::string& Unit) override;
};

// Whether install and uninstall in UnitDir go through the service manager.
bool UnitDirIsSystemd(const std::string& UnitDir);

// Manager may be null: only the file is written or removed.
void InstallService(const std::string& UnitDir, const std::string& ProgramPath, IServiceManager* Manager);
void UninstallService(const std::string& UnitDir, IServiceManager* Manager);

// ---------------------------------------------------------------------------------------
// Platform calls (ServiceInstaller_posix.cpp).

bool SystemdRunning();
// RunCommand runs Args (Args[0] looked up in PATH) and waits; raises when it
// cannot run or ends with a non-zero status.
void RunCommand(const std::vector<std::string>& Args);
// Creates Path with Text; raises when it exists already or cannot be written (and then
// leaves no file behind).
void WriteNewFile(const std::string& Path, const std::string& Text);
// Raises when Path cannot be removed.
void RemoveFile(const std::string& Path);
bool FileExists(const std::string& Path);

}  // namespace dct
