#include "host/ServiceRegistry.h"

#include <windows.h>

#include <gtest/gtest.h>

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
  const std::string FProgram = "C:\\Program Files\\dct test\\dct_korvelmobilesvc.exe";
  const std::string FSourceKey = std::string(kEventLogKey) + kServiceName;
};

TEST_F(ServiceRegistryWindowsTest, InstallThenUninstallAsTheServiceManagerAndRegistryShowIt) {
  RegisterService(FRegistry, FProgram);

  TServiceConfig config;
  ASSERT_TRUE(QueryService(config));
  EXPECT_EQ(config.ServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config.StartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config.ErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(config.BinaryPath, FProgram);  // registered as given, not quoted
  EXPECT_EQ(config.DisplayName, "Korvel mobile DCT service");

  DWORD type = REG_NONE;
  EXPECT_EQ(ReadBack(FSourceKey, "EventMessageFile", type), FProgram);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(ReadBack(FSourceKey, "TypesSupported", type), "7");
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(ReadBack(std::string(kServicesKey) + kServiceName, "Description", type),
            "Сервер драйвера мобильных терминалов сбора данных Zelt-Korvel\"");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

  // A second install fails and leaves the first in place.
  try {
    RegisterService(FRegistry, "C:\\other.exe");
    ADD_FAILURE() << "the second install succeeded";
  } catch (const ESystemError& e) {
    EXPECT_EQ(e.Code(), static_cast<uint32_t>(ERROR_SERVICE_EXISTS));
  }
  ASSERT_TRUE(QueryService(config));
  EXPECT_EQ(config.BinaryPath, FProgram);

  UnregisterService(FRegistry);
  EXPECT_FALSE(QueryService(config));
  EXPECT_FALSE(KeyExists(FSourceKey));

  try {
    UnregisterService(FRegistry);
    ADD_FAILURE() << "removing a removed service succeeded";
  } catch (const ESystemError& e) {
    EXPECT_EQ(e.Code(), static_cast<uint32_t>(ERROR_SERVICE_DOES_NOT_EXIST));
  }
}

}  // namespace
}  // namespace dct
