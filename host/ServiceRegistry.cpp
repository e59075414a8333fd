#include "host/ServiceRegistry.h"

#include "host/ServiceDefinition.h"

namespace dct {

std::vector<TRegistryValue> InstallRegistryValues(const std::string& ProgramPath) {
  const std::string eventLogKey = std::string(kEventLogKey) + kServiceName;
  return {
      {eventLogKey, "EventMessageFile", ProgramPath},
      {eventLogKey, "TypesSupported", kTypesSupported},
      {std::string(kServicesKey) + kServiceName, "Description", std::string(kServiceDescription)},
  };
}

void RegisterService(IServiceRegistry& Registry, const std::string& ProgramPath) {
  Registry.AddService(ProgramPath);
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
}

void UnregisterService(IServiceRegistry& Registry) {
  Registry.RemoveService();
  try {
    Registry.RemoveKey(std::string(kEventLogKey) + kServiceName);
  } catch (...) {
    // A source that is already gone, or cannot be removed, does not undo the removal.
  }
}

}  // namespace dct
