#include "host/ServiceRegistry.h"

#include <gtest/gtest.h>

namespace dct {
namespace {

TEST(ServiceRegistryTest, InstallWritesTheSourceAndTheDescription) {
  const std::vector<TRegistryValue> values = InstallRegistryValues("C:\\Program Files\\dct\\svc.exe");
  ASSERT_EQ(values.size(), 3u);
  const std::string source = "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\dct_korvelmobile";
  EXPECT_EQ(values[0].Key, source);
  EXPECT_EQ(values[0].Name, "EventMessageFile");
  EXPECT_EQ(std::get<std::string>(values[0].Data), "C:\\Program Files\\dct\\svc.exe");  // not quoted
  EXPECT_EQ(values[1].Key, source);
  EXPECT_EQ(values[1].Name, "TypesSupported");
  EXPECT_EQ(std::get<uint32_t>(values[1].Data), 7u);
  EXPECT_EQ(values[2].Key, "SYSTEM\\CurrentControlSet\\Services\\dct_korvelmobile");
  EXPECT_EQ(values[2].Name, "Description");
  EXPECT_EQ(std::get<std::string>(values[2].Data),
            "Сервер драйвера мобильных терминалов сбора данных Zelt-Korvel\"");
}

// Records the calls; the call whose text starts with FailOn raises.
class TFakeRegistry : public IServiceRegistry {
 public:
  explicit TFakeRegistry(std::string FailOn = "") : FFailOn(std::move(FailOn)) {}
  void AddService(const std::string& ProgramPath) override { Call("create " + ProgramPath); }
  void RemoveService() override { Call("delete"); }
  void WriteValue(const TRegistryValue& Value) override { Call("write " + Value.Name); }
  void RemoveKey(const std::string& Key) override { Call("delete key " + Key.substr(Key.rfind('\\') + 1)); }
  std::vector<std::string> FCalls;

 private:
  void Call(const std::string& What) {
    FCalls.push_back(What);
    if (!FFailOn.empty() && What.rfind(FFailOn, 0) == 0) throw ESystemError(5, What + " refused");
  }
  std::string FFailOn;
};

TEST(ServiceRegistryTest, InstallSequenceAndItsRollback) {
  const struct {
    const char* FailOn;
    std::vector<std::string> Calls;
  } cases[] = {
      {"", {"create p", "write EventMessageFile", "write TypesSupported", "write Description"}},
      {"create", {"create p"}},
      {"write EventMessageFile", {"create p", "write EventMessageFile", "delete"}},
      {"write Description",
       {"create p", "write EventMessageFile", "write TypesSupported", "write Description", "delete"}},
  };
  for (const auto& c : cases) {
    TFakeRegistry registry(c.FailOn);
    if (c.FailOn[0] == '\0') {
      RegisterService(registry, "p");
    } else {
      try {
        RegisterService(registry, "p");
        ADD_FAILURE() << "install succeeded with " << c.FailOn << " failing";
      } catch (const ESystemError& e) {
        EXPECT_EQ(std::string(e.what()),
                  std::string(c.FailOn) + (c.FailOn[0] == 'c' ? " p" : "") + " refused");
      }
    }
    EXPECT_EQ(registry.FCalls, c.Calls) << c.FailOn;
  }
}

TEST(ServiceRegistryTest, UninstallIgnoresOnlyTheEventLogKey) {
  TFakeRegistry keyStays("delete key");
  UnregisterService(keyStays);
  EXPECT_EQ(keyStays.FCalls, (std::vector<std::string>{"delete", "delete key dct_korvelmobile"}));

  TFakeRegistry serviceStays("delete");  // the service's deletion fails first
  EXPECT_THROW(UnregisterService(serviceStays), ESystemError);
  EXPECT_EQ(serviceStays.FCalls, std::vector<std::string>{"delete"});
}

}  // namespace
}  // namespace dct
