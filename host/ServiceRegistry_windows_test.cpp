#include "host/ServiceRegistry.h"

#include <windows.h>
// After windows.h, which they need.
#include <netfw.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <boost/system/error_code.hpp>
#include <system_error>

#include "host/ServiceDefinition.h"
#include "support/uWideText.h"

namespace dct {
namespace {

// The value as the registry gives it back: text, or the decimal number of a 32-bit integer.
std::string ReadBack(const std::string& Key, const std::string& Name, DWORD& Type) {
  std::wstring data(1024, L'\0');
  DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  Type = REG_NONE;
  const LSTATUS rc = RegGetValueW(HKEY_LOCAL_MACHINE, Utf8ToWide(Key).c_str(), Utf8ToWide(Name).c_str(),
                                  RRF_RT_REG_SZ | RRF_RT_REG_DWORD, &Type, data.data(), &size);
  if (rc != ERROR_SUCCESS) return "error " + std::to_string(rc);
  if (Type == REG_DWORD) return std::to_string(*reinterpret_cast<const DWORD*>(data.data()));
  data.resize(size / sizeof(wchar_t));
  while (!data.empty() && data.back() == L'\0') data.pop_back();
  return WideToUtf8(data);
}

bool KeyExists(const std::string& Key) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Utf8ToWide(Key).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// The installed service's configuration, as the service manager gives it back.
struct TServiceConfig {
  DWORD ServiceType = 0;
  DWORD StartType = 0;
  DWORD ErrorControl = 0;
  std::string BinaryPath;
  std::string DisplayName;
};

bool QueryService(TServiceConfig& Config) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceW(manager, Utf8ToWide(kServiceName).c_str(), SERVICE_QUERY_CONFIG);
  bool found = false;
  if (service != nullptr) {
    alignas(QUERY_SERVICE_CONFIGW) BYTE buffer[8192];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    DWORD needed = 0;
    found = QueryServiceConfigW(service, config, sizeof buffer, &needed) != FALSE;
    if (found) {
      Config = {config->dwServiceType, config->dwStartType, config->dwErrorControl,
                WideToUtf8(config->lpBinaryPathName), WideToUtf8(config->lpDisplayName)};
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return found;
}

// The firewall left alone: the service manager and the registry are what this test watches.
class TNoFirewall : public IFirewall {
 public:
  void AddRule(const TFirewallRule& Rule) override { FAdded.push_back(Rule.Name); }
  void RemoveRule(const std::string& Name) override { FRemoved.push_back(Name); }
  std::vector<std::string> FAdded, FRemoved;
};

class ServiceRegistryWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
      GTEST_SKIP() << "no full access to the service manager (error " << GetLastError() << ")";
    CloseServiceHandle(manager);
    TServiceConfig existing;
    if (QueryService(existing))
      GTEST_SKIP() << "a dct_korvelmobile service is installed here; the test keeps off it";
  }

  TWindowsServiceRegistry FRegistry;
  TNoFirewall FFirewall;
  const std::string FProgram = "C:\\Program Files\\dct test\\dct_korvelmobilesvc.exe";
  const std::string FSourceKey = std::string(kEventLogKey) + kServiceName;
  const std::string FByHandKey = std::string(kEventLogKey) + "dct_korvelmobilesvc.exe";
};

TEST_F(ServiceRegistryWindowsTest, InstallThenUninstallAsTheServiceManagerAndRegistryShowIt) {
  EXPECT_EQ(RegisterService(FRegistry, FFirewall, FProgram), "");

  TServiceConfig config;
  ASSERT_TRUE(QueryService(config));
  EXPECT_EQ(config.ServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config.StartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config.ErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(config.BinaryPath, "\"" + FProgram + "\"");  // never read as C:\\Program.exe
  EXPECT_EQ(config.DisplayName, "Korvel mobile DCT service");

  DWORD type = REG_NONE;
  EXPECT_EQ(ReadBack(FSourceKey, "EventMessageFile", type), FProgram);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(ReadBack(FSourceKey, "TypesSupported", type), "7");
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(ReadBack(std::string(kServicesKey) + kServiceName, "Description", type),
            "Сервер драйвера мобильных терминалов сбора данных Zelt-Korvel\"");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(ReadBack(FByHandKey, "EventMessageFile", type), FProgram);
  EXPECT_EQ(ReadBack(FByHandKey, "TypesSupported", type), "7");

  // A second install fails and leaves the first in place.
  try {
    RegisterService(FRegistry, FFirewall, "C:\\other.exe");
    ADD_FAILURE() << "the second install succeeded";
  } catch (const ESystemError& e) {
    EXPECT_EQ(e.Code(), static_cast<uint32_t>(ERROR_SERVICE_EXISTS));
  }
  ASSERT_TRUE(QueryService(config));
  EXPECT_EQ(config.BinaryPath, "\"" + FProgram + "\"");

  EXPECT_EQ(UnregisterService(FRegistry, FFirewall, FProgram), "");
  EXPECT_FALSE(QueryService(config));
  EXPECT_FALSE(KeyExists(FSourceKey));
  EXPECT_FALSE(KeyExists(FByHandKey));
  EXPECT_EQ(FFirewall.FAdded, std::vector<std::string>{"Korvel mobile DCT service (TCP 7211)"});
  EXPECT_EQ(FFirewall.FRemoved, FFirewall.FAdded);

  try {
    UnregisterService(FRegistry, FFirewall, FProgram);
    ADD_FAILURE() << "removing a removed service succeeded";
  } catch (const ESystemError& e) {
    EXPECT_EQ(e.Code(), static_cast<uint32_t>(ERROR_SERVICE_DOES_NOT_EXIST));
  }
}

// A bind that fails raises std::system_error over Boost's error code (service/HTTPServer.cpp);
// its text reaches the event log and the console, which read UTF-8. On a Russian system
// the text is Cyrillic, and in the ANSI code page it would not be UTF-8 at all.
TEST(SystemErrorTextWindowsTest, BoostsTextIsTheSystemsOwnInUtf8) {
  for (const DWORD code : {DWORD{ERROR_FILE_NOT_FOUND}, DWORD{ERROR_ACCESS_DENIED},
                           DWORD{ERROR_SERVICE_EXISTS}, DWORD{WSAEADDRINUSE}, DWORD{WSAEACCES}}) {
    const boost::system::error_code ec(static_cast<int>(code), boost::system::system_category());
    const std::string system = SystemErrorText(code);
    std::string expected = system;
    if (!expected.empty() && expected.back() == '.') expected.pop_back();  // Boost drops the full stop
    if (expected.rfind("system error ", 0) == 0)
      continue;  // no text here for the code (wine has none for some)
    EXPECT_EQ(ec.message(), expected) << code;
    const std::system_error raised(ec, "Cannot listen for HTTP on port 7211 (bind)");
    EXPECT_EQ(std::string(raised.what()), "Cannot listen for HTTP on port 7211 (bind): " + expected) << code;
    // Converted once: the UTF-16 round trip gives the same text back.
    EXPECT_EQ(WideToUtf8(Utf8ToWide(ec.message())), ec.message()) << code;
  }
}

// The rule as the firewall lists it, looked up by name: S_OK and the rule, or the failure.
HRESULT FindRule(const std::string& Name, TFirewallRule& Found) {
  INetFwPolicy2* policy = nullptr;
  HRESULT hr = CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(INetFwPolicy2), reinterpret_cast<void**>(&policy));
  if (FAILED(hr)) return hr;
  INetFwRules* rules = nullptr;
  INetFwRule* rule = nullptr;
  hr = policy->get_Rules(&rules);
  if (SUCCEEDED(hr)) {
    BSTR name = SysAllocString(Utf8ToWide(Name).c_str());
    hr = rules->Item(name, &rule);
    SysFreeString(name);
  }
  if (SUCCEEDED(hr)) {
    BSTR program = nullptr, ports = nullptr;
    LONG protocol = 0;
    NET_FW_RULE_DIRECTION direction{};
    NET_FW_ACTION action{};
    rule->get_ApplicationName(&program);
    rule->get_LocalPorts(&ports);
    rule->get_Protocol(&protocol);
    rule->get_Direction(&direction);
    rule->get_Action(&action);
    Found.Program = program != nullptr ? WideToUtf8(program) : "";
    Found.Port = ports != nullptr ? static_cast<uint16_t>(_wtoi(ports)) : 0;
    // Only an inbound TCP allow rule counts as the rule.
    if (protocol != NET_FW_IP_PROTOCOL_TCP || direction != NET_FW_RULE_DIR_IN ||
        action != NET_FW_ACTION_ALLOW)
      Found.Port = 0;
    SysFreeString(program);
    SysFreeString(ports);
    rule->Release();
  }
  if (rules != nullptr) rules->Release();
  policy->Release();
  return hr;
}

// The firewall's own interface, as far as this system implements it: wine takes rules but
// cannot list them, so there the test shows only that adding and removing go through.
TEST(FirewallWindowsTest, TheRuleIsAddedAndRemovedThroughTheFirewallsInterface) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  TFirewallRule rule = ServiceFirewallRule("C:\\Program Files\\dct test\\dct_korvelmobilesvc.exe");
  rule.Name = "dct host test rule";  // never the real rule of an installed service
  TWindowsFirewall firewall;
  try {
    firewall.AddRule(rule);
  } catch (const ESystemError& e) {
    CoUninitialize();
    if (e.Code() == static_cast<uint32_t>(E_ACCESSDENIED))
      GTEST_SKIP() << "no right to change the firewall here";
    FAIL() << "adding the rule failed: " << e.what();
  }
  TFirewallRule found;
  const HRESULT listed = FindRule(rule.Name, found);
  EXPECT_NO_THROW(firewall.AddRule(rule));  // a second add replaces the rule
  EXPECT_NO_THROW(firewall.RemoveRule(rule.Name));
  EXPECT_NO_THROW(firewall.RemoveRule(rule.Name));  // gone already: no failure
  TFirewallRule after;
  const HRESULT listedAfter = FindRule(rule.Name, after);
  CoUninitialize();
  if (listed == E_NOTIMPL) GTEST_SKIP() << "this firewall takes rules but cannot list them (wine)";
  ASSERT_EQ(listed, S_OK);
  EXPECT_EQ(found.Program, rule.Program);
  EXPECT_EQ(found.Port, 7211);
  EXPECT_TRUE(FAILED(listedAfter));
}

}  // namespace
}  // namespace dct
