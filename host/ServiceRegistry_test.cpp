#include "host/ServiceRegistry.h"

#include <gtest/gtest.h>

namespace dct {
namespace {

TEST(ServiceRegistryTest, InstallWritesBothSourcesAndTheDescription) {
  const std::vector<TRegistryValue> values = InstallRegistryValues("C:\\Program Files\\dct\\svc.exe");
  ASSERT_EQ(values.size(), 5u);
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
  // The source a program started by hand writes to, named like its file.
  const std::string byHand = "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\svc.exe";
  EXPECT_EQ(values[3].Key, byHand);
  EXPECT_EQ(values[3].Name, "EventMessageFile");
  EXPECT_EQ(std::get<std::string>(values[3].Data), "C:\\Program Files\\dct\\svc.exe");
  EXPECT_EQ(values[4].Key, byHand);
  EXPECT_EQ(std::get<uint32_t>(values[4].Data), 7u);
}

TEST(ServiceRegistryTest, BinaryPathIsQuotedExactlyWhenItHoldsASpace) {
  const struct {
    const char* Path;
    const char* CommandLine;
  } cases[] = {
      {"C:\\Program Files\\dct\\svc.exe", "\"C:\\Program Files\\dct\\svc.exe\""},
      {"C:\\dct\\svc.exe", "C:\\dct\\svc.exe"},
      {"C:\\Program Files (x86)\\dct\\svc.exe", "\"C:\\Program Files (x86)\\dct\\svc.exe\""},
      {"\\\\server\\share\\svc.exe", "\\\\server\\share\\svc.exe"},
  };
  for (const auto& c : cases) EXPECT_EQ(ServiceCommandLine(c.Path), c.CommandLine) << c.Path;
}

// Records the calls of the registry and the firewall in one list; the call whose text starts
// with FailOn raises.
class TFakeRegistry : public IServiceRegistry, public IFirewall {
 public:
  explicit TFakeRegistry(std::string FailOn = "") : FFailOn(std::move(FailOn)) {}
  void AddService(const std::string& ProgramPath) override { Call("create " + ProgramPath); }
  void RemoveService() override { Call("delete"); }
  void WriteValue(const TRegistryValue& Value) override {
    Call("write " + Value.Key.substr(Value.Key.rfind('\\') + 1) + " " + Value.Name);
  }
  void RemoveKey(const std::string& Key) override { Call("delete key " + Key.substr(Key.rfind('\\') + 1)); }
  void AddRule(const TFirewallRule& Rule) override {
    FRule = Rule;
    Call("add rule " + Rule.Name);
  }
  void RemoveRule(const std::string& Name) override { Call("remove rule " + Name); }
  std::vector<std::string> FCalls;
  TFirewallRule FRule;

 private:
  void Call(const std::string& What) {
    FCalls.push_back(What);
    if (!FFailOn.empty() && What.rfind(FFailOn, 0) == 0) throw ESystemError(5, What + " refused");
  }
  std::string FFailOn;
};

const char kRule[] = "Korvel mobile DCT service (TCP 7211)";

TEST(ServiceRegistryTest, InstallSequenceItsRollbackAndTheFirewallRule) {
  const std::vector<std::string> all = {"create p",
                                        "write dct_korvelmobile EventMessageFile",
                                        "write dct_korvelmobile TypesSupported",
                                        "write dct_korvelmobile Description",
                                        "write p EventMessageFile",
                                        "write p TypesSupported",
                                        std::string("add rule ") + kRule};
  const struct {
    const char* FailOn;
    size_t Calls;        // how many of `all` are made
    bool RolledBack;     // "delete" follows them
    const char* Raised;  // the install's failure, or null when it stands
    const char* Warning;
  } cases[] = {
      {"", 7, false, nullptr, ""},
      {"create", 1, false, "create p refused", ""},
      {"write dct_korvelmobile EventMessageFile", 2, true, "write dct_korvelmobile EventMessageFile refused",
       ""},
      {"write p TypesSupported", 6, true, "write p TypesSupported refused", ""},
      // A site whose firewall is managed centrally: the service is installed all the same.
      {"add rule", 7, false, nullptr,
       "Warning: the firewall rule \"Korvel mobile DCT service (TCP 7211)\" could not be added: \"add rule "
       "Korvel mobile DCT service (TCP 7211) refused\". Terminals cannot reach the service until an inbound "
       "rule allows TCP port 7211 (see README.txt)."},
  };
  for (const auto& c : cases) {
    TFakeRegistry registry(c.FailOn);
    std::string warning = "(raised)";
    try {
      warning = RegisterService(registry, registry, "p");
      EXPECT_EQ(c.Raised, nullptr) << "install succeeded with " << c.FailOn << " failing";
    } catch (const ESystemError& e) {
      ASSERT_NE(c.Raised, nullptr) << e.what();
      EXPECT_STREQ(e.what(), c.Raised);
    }
    std::vector<std::string> expected(all.begin(), all.begin() + c.Calls);
    if (c.RolledBack) expected.push_back("delete");
    EXPECT_EQ(registry.FCalls, expected) << c.FailOn;
    if (c.Raised == nullptr) {
      EXPECT_EQ(warning, c.Warning) << c.FailOn;
    }
  }
}

TEST(ServiceRegistryTest, TheRuleLetsTheProgramInOnTheServicePort) {
  TFakeRegistry registry;
  RegisterService(registry, registry, "C:\\Program Files\\dct\\svc.exe");
  EXPECT_EQ(registry.FCalls.front(), "create \"C:\\Program Files\\dct\\svc.exe\"");
  EXPECT_EQ(registry.FRule.Name, kRule);
  EXPECT_EQ(registry.FRule.Program, "C:\\Program Files\\dct\\svc.exe");  // a file name, never quoted
  EXPECT_EQ(registry.FRule.Port, 7211);
  EXPECT_EQ(registry.FRule.Grouping, "Korvel mobile DCT service");
}

TEST(ServiceRegistryTest, UninstallIgnoresTheEventLogKeysAndReportsTheRule) {
  TFakeRegistry keysStay("delete key");
  EXPECT_EQ(UnregisterService(keysStay, keysStay, "C:\\dct\\svc.exe"), "");
  EXPECT_EQ(keysStay.FCalls,
            (std::vector<std::string>{"delete", "delete key dct_korvelmobile", "delete key svc.exe",
                                      std::string("remove rule ") + kRule}));

  TFakeRegistry ruleStays("remove rule");
  EXPECT_EQ(
      UnregisterService(ruleStays, ruleStays, "C:\\dct\\svc.exe"),
      "Warning: the firewall rule \"Korvel mobile DCT service (TCP 7211)\" could not be removed: \"remove "
      "rule Korvel mobile DCT service (TCP 7211) refused\"");

  TFakeRegistry serviceStays("delete");  // the service's deletion fails first: nothing else is touched
  EXPECT_THROW(UnregisterService(serviceStays, serviceStays, "C:\\dct\\svc.exe"), ESystemError);
  EXPECT_EQ(serviceStays.FCalls, std::vector<std::string>{"delete"});
}

}  // namespace
}  // namespace dct
