#include "host/ServiceRegistry.h"

#include <windows.h>
// After windows.h, which they need.
#include <netfw.h>
#include <oleauto.h>

#include <cstdio>

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

// COM on this thread for one scope. A thread that has COM in another mode already keeps it.
class TComScope {
 public:
  TComScope() : FResult(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {
    if (FAILED(FResult) && FResult != RPC_E_CHANGED_MODE) Raise(static_cast<DWORD>(FResult));
  }
  ~TComScope() {
    if (SUCCEEDED(FResult)) CoUninitialize();
  }
  TComScope(const TComScope&) = delete;
  TComScope& operator=(const TComScope&) = delete;

 private:
  HRESULT FResult;
};

void Check(HRESULT result) {
  if (FAILED(result)) Raise(static_cast<DWORD>(result));
}

// A COM interface pointer, released with its scope.
template <typename T>
class TComPtr {
 public:
  TComPtr() = default;
  ~TComPtr() {
    if (FPointer != nullptr) FPointer->Release();
  }
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;
  T* operator->() const { return FPointer; }
  T** Out() { return &FPointer; }
  T* Get() const { return FPointer; }

 private:
  T* FPointer = nullptr;
};

// A BSTR of UTF-8 text, freed with its scope.
class TBstr {
 public:
  explicit TBstr(const std::string& Text) : FText(SysAllocString(Utf8ToWide(Text).c_str())) {
    if (FText == nullptr) Raise(ERROR_NOT_ENOUGH_MEMORY);
  }
  ~TBstr() { SysFreeString(FText); }
  TBstr(const TBstr&) = delete;
  TBstr& operator=(const TBstr&) = delete;
  BSTR Get() const { return FText; }

 private:
  BSTR FText;
};

void OpenRules(TComPtr<INetFwPolicy2>& Policy, TComPtr<INetFwRules>& Rules) {
  Check(CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwPolicy2),
                         reinterpret_cast<void**>(Policy.Out())));
  Check(Policy->get_Rules(Rules.Out()));
}

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
  if (text.empty()) {
    // An HRESULT (the firewall's, COM's) reads as the hexadecimal that its documentation uses.
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(Code));
    return "system error " + ((Code & 0x80000000u) != 0 ? std::string(hex) : std::to_string(Code));
  }
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

void TWindowsFirewall::AddRule(const TFirewallRule& Rule) {
  const TComScope com;
  TComPtr<INetFwPolicy2> policy;
  TComPtr<INetFwRules> rules;
  OpenRules(policy, rules);
  const TBstr name(Rule.Name);
  Check(rules->Remove(name.Get()));  // a rule left by an earlier install is replaced, not doubled
  TComPtr<INetFwRule> rule;
  Check(CoCreateInstance(__uuidof(NetFwRule), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwRule),
                         reinterpret_cast<void**>(rule.Out())));
  const TBstr description(Rule.Description);
  const TBstr grouping(Rule.Grouping);
  const TBstr program(Rule.Program);
  const TBstr port(std::to_string(Rule.Port));
  Check(rule->put_Name(name.Get()));
  Check(rule->put_Description(description.Get()));
  Check(rule->put_Grouping(grouping.Get()));
  Check(rule->put_ApplicationName(program.Get()));
  Check(rule->put_Protocol(NET_FW_IP_PROTOCOL_TCP));  // before the ports, which need it
  Check(rule->put_LocalPorts(port.Get()));
  Check(rule->put_Direction(NET_FW_RULE_DIR_IN));
  Check(rule->put_Action(NET_FW_ACTION_ALLOW));
  Check(rule->put_Profiles(NET_FW_PROFILE2_ALL));
  Check(rule->put_Enabled(VARIANT_TRUE));
  Check(rules->Add(rule.Get()));
}

void TWindowsFirewall::RemoveRule(const std::string& Name) {
  const TComScope com;
  TComPtr<INetFwPolicy2> policy;
  TComPtr<INetFwRules> rules;
  OpenRules(policy, rules);
  const TBstr name(Name);
  Check(rules->Remove(name.Get()));
}

}  // namespace dct
