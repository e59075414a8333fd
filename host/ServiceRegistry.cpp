#include "host/ServiceRegistry.h"

#include <exception>

#include "host/ServiceDefinition.h"

namespace dct {

namespace {

// The service's own port: the installed service is started without --port.
constexpr uint16_t kServicePort = 7211;

}  // namespace

std::string ProgramFileName(const std::string& ProgramPath) {
  const size_t slash = ProgramPath.find_last_of("\\/");
  return slash == std::string::npos ? ProgramPath : ProgramPath.substr(slash + 1);
}

std::vector<std::string> EventSourceKeys(const std::string& ProgramPath) {
  return {std::string(kEventLogKey) + kServiceName, std::string(kEventLogKey) + ProgramFileName(ProgramPath)};
}

std::vector<TRegistryValue> InstallRegistryValues(const std::string& ProgramPath) {
  const std::vector<std::string> sources = EventSourceKeys(ProgramPath);
  return {
      {sources[0], "EventMessageFile", ProgramPath},
      {sources[0], "TypesSupported", kTypesSupported},
      {std::string(kServicesKey) + kServiceName, "Description", std::string(kServiceDescription)},
      {sources[1], "EventMessageFile", ProgramPath},
      {sources[1], "TypesSupported", kTypesSupported},
  };
}

std::string ServiceCommandLine(const std::string& ProgramPath) {
  if (ProgramPath.find(' ') == std::string::npos) return ProgramPath;
  return "\"" + ProgramPath + "\"";
}

TFirewallRule ServiceFirewallRule(const std::string& ProgramPath) {
  TFirewallRule rule;
  rule.Name = std::string(kServiceDisplayName) + " (TCP " + std::to_string(kServicePort) + ")";
  rule.Description =
      "Lets the data-collection terminals and the accounting system reach the service on TCP port " +
      std::to_string(kServicePort) + ".";
  rule.Grouping = kServiceDisplayName;
  rule.Program = ProgramPath;
  rule.Port = kServicePort;
  return rule;
}

std::string RegisterService(IServiceRegistry& Registry, IFirewall& Firewall, const std::string& ProgramPath) {
  Registry.AddService(ServiceCommandLine(ProgramPath));
  try {
    for (const TRegistryValue& value : InstallRegistryValues(ProgramPath)) Registry.WriteValue(value);
  } catch (...) {
    try {
      Registry.RemoveService();
    } catch (...) {
      // The write's failure is the one to report.
    }
    throw;
  }
  const TFirewallRule rule = ServiceFirewallRule(ProgramPath);
  try {
    Firewall.AddRule(rule);
  } catch (const std::exception& e) {
    return FillFormat(kFirewallAddFailedFormat, rule.Name, e.what());
  }
  return std::string();
}

std::string UnregisterService(IServiceRegistry& Registry, IFirewall& Firewall,
                              const std::string& ProgramPath) {
  Registry.RemoveService();
  for (const std::string& key : EventSourceKeys(ProgramPath)) {
    try {
      Registry.RemoveKey(key);
    } catch (...) {
      // A source that is already gone, or cannot be removed, does not undo the removal.
    }
  }
  const TFirewallRule rule = ServiceFirewallRule(ProgramPath);
  try {
    Firewall.RemoveRule(rule.Name);
  } catch (const std::exception& e) {
    return FillFormat(kFirewallRemoveFailedFormat, rule.Name, e.what());
  }
  return std::string();
}

}  // namespace dct
