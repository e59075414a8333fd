#include "host/ServiceInstaller.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "host/ServiceDefinition.h"
#include "support/TestSupport.h"

namespace dct {
namespace {

namespace fs = std::filesystem;

using testing::ReadFileText;

TEST(UnitFileTest, UnitCarriesNamesTypeProgramAndTarget) {
  const std::string text = UnitFileText("/opt/dct/dct_korvelmobilesvc");
  EXPECT_NE(text.find("\nDescription=Korvel mobile DCT service\n"), std::string::npos);
  EXPECT_NE(text.find(std::string("\nX-Description=") + kServiceDescription + "\n"), std::string::npos);
  EXPECT_NE(text.find("\nType=notify\n"), std::string::npos);
  EXPECT_NE(text.find("\nExecStart=/opt/dct/dct_korvelmobilesvc\n"), std::string::npos);
  EXPECT_NE(text.find("\nWantedBy=multi-user.target\n"), std::string::npos);
  EXPECT_EQ(text.find("@DISPLAY_NAME@"), std::string::npos);
  EXPECT_EQ(text.find("@SERVICE_DESCRIPTION@"), std::string::npos);
  EXPECT_EQ(text.find("@EXEC_START@"), std::string::npos);
  // The path appears in ExecStart only.
  const size_t first = text.find("/opt/dct/dct_korvelmobilesvc");
  EXPECT_EQ(text.find("/opt/dct/dct_korvelmobilesvc", first + 1), std::string::npos);
  // The sections come in the order systemd expects them.
  EXPECT_LT(text.find("[Unit]"), text.find("[Service]"));
  EXPECT_LT(text.find("[Service]"), text.find("[Install]"));
}

TEST(UnitFileTest, ProgramPathBecomesOneExecStartWord) {
  const struct {
    const char* Path;
    const char* Word;
  } cases[] = {
      {"/usr/bin/prog", "/usr/bin/prog"},
      {"/opt/my dir/prog", "\"/opt/my dir/prog\""},
      {"/opt/100%/prog", "/opt/100%%/prog"},
      {"/opt/$HOME/prog", "/opt/$HOME/prog"},
      {"/opt/a b%c$d/prog", "\"/opt/a b%%c$d/prog\""},
      {"/opt/a\"b/prog", "\"/opt/a\\\"b/prog\""},
      {"/opt/a\\b/prog", "\"/opt/a\\\\b/prog\""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExecStartWord(c.Path), c.Word) << c.Path;
}

// Records the manager's calls; the call named FailOn raises.
class TFakeManager : public IServiceManager {
 public:
  explicit TFakeManager(std::string fail_on = "") : FFailOn(std::move(fail_on)) {}
  void Reload() override { Call("reload"); }
  void EnableUnit(const std::string& unit) override { Call("enable " + unit); }
  void DisableUnit(const std::string& unit) override { Call("disable " + unit); }
  std::vector<std::string> calls;

 private:
  void Call(const std::string& what) {
    calls.push_back(what);
    if (what.rfind(FFailOn, 0) == 0 && !FFailOn.empty()) {
      throw std::runtime_error(what + " refused");
    }
  }
  std::string FFailOn;
};

class InstallTest : public ::testing::Test {
 protected:
  testing::TTempDir FTemp{"host_install"};
  const std::string FDir = FTemp.Path();
  const std::string FUnit = FDir + "/dct_korvelmobile.service";
};

TEST_F(InstallTest, InstallWritesTheUnitAndEnablesIt) {
  TFakeManager manager;
  InstallService(FDir, "/opt/dct/dct_korvelmobilesvc", &manager);
  EXPECT_EQ(ReadFileText(FUnit), UnitFileText("/opt/dct/dct_korvelmobilesvc"));
  EXPECT_EQ(manager.calls, (std::vector<std::string>{"reload", "enable dct_korvelmobile.service"}));
}

TEST_F(InstallTest, InstallOverAnExistingUnitFailsAndKeepsIt) {
  InstallService(FDir, "/first/prog", nullptr);
  TFakeManager manager;
  try {
    InstallService(FDir + "/", "/second/prog", &manager);
    FAIL() << "second install succeeded";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFileText(FUnit), UnitFileText("/first/prog"));
  EXPECT_TRUE(manager.calls.empty());
}

TEST_F(InstallTest, FailureAfterTheUnitWasWrittenRemovesItAgain) {
  for (const char* step : {"reload", "enable"}) {
    TFakeManager manager(step);
    try {
      InstallService(FDir, "/opt/prog", &manager);
      FAIL() << "install succeeded with " << step << " failing";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("refused"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(FUnit)) << step;
  }
}

TEST_F(InstallTest, InstallIntoAMissingFolderFails) {
  EXPECT_THROW(InstallService(FDir + "/missing", "/opt/prog", nullptr), std::runtime_error);
}

TEST_F(InstallTest, UninstallDisablesThenRemoves) {
  InstallService(FDir, "/opt/prog", nullptr);
  TFakeManager manager;
  UninstallService(FDir, &manager);
  EXPECT_FALSE(fs::exists(FUnit));
  EXPECT_EQ(manager.calls, (std::vector<std::string>{"disable dct_korvelmobile.service", "reload"}));
}

TEST_F(InstallTest, UninstallOfAMissingUnitFails) {
  TFakeManager manager;
  try {
    UninstallService(FDir, &manager);
    FAIL() << "uninstall of nothing succeeded";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("does not exist"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(manager.calls.empty());
}

TEST_F(InstallTest, RefusedDisableKeepsTheUnitAndAFailedLastReloadIsIgnored) {
  InstallService(FDir, "/opt/prog", nullptr);
  TFakeManager refusesDisable("disable");
  EXPECT_THROW(UninstallService(FDir, &refusesDisable), std::runtime_error);
  EXPECT_TRUE(fs::exists(FUnit));

  TFakeManager refusesReload("reload");
  UninstallService(FDir, &refusesReload);
  EXPECT_FALSE(fs::exists(FUnit));
}

TEST(UnitDirTest, OnlyTheSystemFolderGoesThroughTheServiceManager) {
  EXPECT_FALSE(UnitDirIsSystemd("/tmp/units"));
  EXPECT_EQ(UnitDirIsSystemd("/etc/systemd/system"), SystemdRunning());
  EXPECT_EQ(UnitDirIsSystemd("/etc//systemd/system/"), SystemdRunning());
}

}  // namespace
}  // namespace dct
