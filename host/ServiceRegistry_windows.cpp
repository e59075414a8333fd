#include "host/ServiceRegistry.h"

#include <windows.h>

#include "host/ServiceDefinition.h"
#include "support/uWideText.h"

namespace dct {

namespace {

[[noreturn]] void Raise(DWORD code) { throw ESystemError(code, SystemErrorText(code)); }
[[noreturn]] void RaiseLastError() { Raise(GetLastError()); }

// A service manager or service handle, closed with its scope.
class TServiceHandle {
 public:
  explicit TServiceHandle(SC_HANDLE Handle) : FHandle(Handle) {
    if (FHandle == nullptr) RaiseLastError();
  }
  ~TServiceHandle() { CloseServiceHandle(FHandle); }
  TServiceHandle(const TServiceHandle&) = delete;
  TServiceHandle& operator=(const TServiceHandle&) = delete;
  SC_HANDLE Get() const { return FHandle; }

 private:
  SC_HANDLE FHandle;
};

}  // namespace

std::string SystemErrorText(uint32_t Code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      Code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.pop_back();
  if (text.empty()) return "system error " + std::to_string(Code);
  return WideToUtf8(text);
}

void TWindowsServiceRegistry::AddService(const std::string& ProgramPath) {
  const TServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  const TServiceHandle service(
      CreateServiceW(manager.Get(), Utf8ToWide(kServiceName).c_str(), Utf8ToWide(kServiceDisplayName).c_str(),
                     SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                     Utf8ToWide(ProgramPath).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
}

void TWindowsServiceRegistry::RemoveService() {
  const TServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  const TServiceHandle service(
      OpenServiceW(manager.Get(), Utf8ToWide(kServiceName).c_str(), SERVICE_ALL_ACCESS));
  if (!::DeleteService(service.Get())) RaiseLastError();
}

void TWindowsServiceRegistry::WriteValue(const TRegistryValue& Value) {
  HKEY key = nullptr;
  LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, Utf8ToWide(Value.Key).c_str(), 0, nullptr,
                               REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) Raise(static_cast<DWORD>(rc));
  const std::wstring name = Utf8ToWide(Value.Name);
  if (const std::string* text = std::get_if<std::string>(&Value.Data)) {
    const std::wstring data = Utf8ToWide(*text);
    rc = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  } else {
    const DWORD number = std::get<uint32_t>(Value.Data);
    rc = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                        sizeof number);
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) Raise(static_cast<DWORD>(rc));
}

void TWindowsServiceRegistry::RemoveKey(const std::string& Key) {
  const LSTATUS rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, Utf8ToWide(Key).c_str());
  if (rc != ERROR_SUCCESS) Raise(static_cast<DWORD>(rc));
}

}  // namespace dct
