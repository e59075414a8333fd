// INSTALL and UNINSTALL on Windows: the service in the service control manager, and its
// description and event-log source in the registry (local-machine hive).
//
// RegisterService creates the service (a process of its own, not interactive, automatic
// start, normal error control, the program's path unquoted, the manager's default account,
// no group or dependencies), then writes InstallRegistryValues; when a write fails the
// service is deleted again and the write's error is raised. UnregisterService deletes the
// service (its key, Description included, goes with it), then the event-log key, whose
// failure is ignored.
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

// EventMessageFile and TypesSupported under the event-log key, Description under the
// service's key, in the order they are written.
std::vector<TRegistryValue> InstallRegistryValues(const std::string& ProgramPath);

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

void RegisterService(IServiceRegistry& Registry, const std::string& ProgramPath);
void UnregisterService(IServiceRegistry& Registry);

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

// The system's text for an error code, without its line end.
std::string SystemErrorText(uint32_t Code);

}  // namespace dct
