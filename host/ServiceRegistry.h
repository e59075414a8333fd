// INSTALL and UNINSTALL on Windows: the service in the service control manager, its
// description and event-log sources in the registry (local-machine hive), and the
// firewall rule that lets terminals reach its port.
//
// RegisterService creates the service (a process of its own, not interactive, automatic
// start, normal error control, the manager's default account, no group or dependencies)
// with ServiceCommandLine as its binary path, then writes InstallRegistryValues; when a
// write fails the service is deleted again and the write's error is raised. Last it adds
// the inbound firewall rule (ServiceFirewallRule): a rule that cannot be added does not
// undo the install (some sites manage their firewall centrally) but comes back as the
// text to report. UnregisterService deletes the service (its key, Description included,
// goes with it), then the event-log keys and the firewall rule, whose failures do not
// undo the removal; the rule's failure comes back as the text to report.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace dct {

// Below HKEY_LOCAL_MACHINE.
constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr char kEventLogKey[] = "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\";
// Error, warning and information entries.
constexpr uint32_t kTypesSupported = 7;

struct TRegistryValue {
  std::string Key;  // below HKEY_LOCAL_MACHINE
  std::string Name;
  std::variant<std::string, uint32_t> Data;  // text or a 32-bit integer
};

// EventMessageFile and TypesSupported under the service's event-log key, Description under
// the service's key, then EventMessageFile and TypesSupported under the key of the source
// named like the program's file (ProgramFileName), which a program started by hand writes
// to; in the order they are written. Both sources use the program's own message table.
std::vector<TRegistryValue> InstallRegistryValues(const std::string& ProgramPath);
// The event-log keys that UninstallService removes: the service's, the program file's.
std::vector<std::string> EventSourceKeys(const std::string& ProgramPath);
// The last part of ProgramPath, extension kept ("dct_korvelmobilesvc.exe").
std::string ProgramFileName(const std::string& ProgramPath);

// The binary path registered with the service manager, which reads it as a command line:
// quoted when it holds a space, so that C:\Program Files\... is never taken for
// C:\Program.exe; any other path as it is, so that nothing reading it changes.
std::string ServiceCommandLine(const std::string& ProgramPath);

// An inbound allow rule of the firewall for one program on one TCP port, in every profile.
struct TFirewallRule {
  std::string Name;  // what the firewall lists, and what removal finds the rule by
  std::string Description;
  std::string Grouping;
  std::string Program;
  uint16_t Port = 0;
};

// The rule INSTALL adds for the program at ProgramPath on the service's port, 7211 (the
// installed service runs without options, so on the default port).
TFirewallRule ServiceFirewallRule(const std::string& ProgramPath);

// Console reports of a firewall rule that could not be added or removed, filled with the
// rule's name and the error text. The install or removal itself stands.
constexpr char kFirewallAddFailedFormat[] =
    "Warning: the firewall rule \"%s\" could not be added: \"%s\". Terminals cannot reach the "
    "service until an inbound rule allows TCP port 7211 (see README.txt).";
constexpr char kFirewallRemoveFailedFormat[] =
    "Warning: the firewall rule \"%s\" could not be removed: \"%s\"";

// A failed system call: what() is the system's text of Code.
class ESystemError : public std::runtime_error {
 public:
  ESystemError(uint32_t Code, const std::string& Text) : std::runtime_error(Text), FCode(Code) {}
  uint32_t Code() const { return FCode; }

 private:
  uint32_t FCode;
};

// What install and removal need of the service manager and the registry. Each raises on
// failure.
class IServiceRegistry {
 public:
  virtual ~IServiceRegistry() = default;
  virtual void AddService(const std::string& ProgramPath) = 0;
  virtual void RemoveService() = 0;
  // Creates the key when it is missing.
  virtual void WriteValue(const TRegistryValue& Value) = 0;
  virtual void RemoveKey(const std::string& Key) = 0;
};

// The firewall as install and removal need it. Each raises on failure.
class IFirewall {
 public:
  virtual ~IFirewall() = default;
  // Replaces any rule of the same name.
  virtual void AddRule(const TFirewallRule& Rule) = 0;
  // A rule that is not there is no failure.
  virtual void RemoveRule(const std::string& Name) = 0;
};

// Each returns the warning to report for the firewall rule, or empty text; raise when the
// service itself could not be installed or removed.
std::string RegisterService(IServiceRegistry& Registry, IFirewall& Firewall, const std::string& ProgramPath);
std::string UnregisterService(IServiceRegistry& Registry, IFirewall& Firewall,
                              const std::string& ProgramPath);

// ---------------------------------------------------------------------------------------
// Platform calls (ServiceRegistry_windows.cpp).

// The service control manager (opened with full access for each call) and the registry.
// Raises ESystemError.
class TWindowsServiceRegistry : public IServiceRegistry {
 public:
  void AddService(const std::string& ProgramPath) override;
  void RemoveService() override;
  void WriteValue(const TRegistryValue& Value) override;
  void RemoveKey(const std::string& Key) override;
};

// The firewall's COM interface (INetFwPolicy2), with COM started for each call. Raises
// ESystemError.
class TWindowsFirewall : public IFirewall {
 public:
  void AddRule(const TFirewallRule& Rule) override;
  void RemoveRule(const std::string& Name) override;
};

// The system's text for an error code (an HRESULT too), from FormatMessageW in the
// language of the system's messages, as UTF-8 without its line end.
std::string SystemErrorText(uint32_t Code);

}  // namespace dct
