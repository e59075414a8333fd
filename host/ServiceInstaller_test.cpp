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

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

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
    const char* path;
    const char* word;
  } cases[] = {
      {"/usr/bin/prog", "/usr/bin/prog"},
      {"/opt/my dir/prog", "\"/opt/my dir/prog\""},
      {"/opt/100%/prog", "/opt/100%%/prog"},
      {"/opt/$HOME/prog", "/opt/$HOME/prog"},
      {"/opt/a b%c$d/prog", "\"/opt/a b%%c$d/prog\""},
      {"/opt/a\"b/prog", "\"/opt/a\\\"b/prog\""},
      {"/opt/a\\b/prog", "\"/opt/a\\\\b/prog\""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExecStartWord(c.path), c.word) << c.path;
}

// Records the manager's calls; the call named FailOn raises.
class FakeManager : public IServiceManager {
 public:
  explicit FakeManager(std::string fail_on = "") : fail_on_(std::move(fail_on)) {}
  void Reload() override { Call("reload"); }
  void EnableUnit(const std::string& unit) override { Call("enable " + unit); }
  void DisableUnit(const std::string& unit) override { Call("disable " + unit); }
  std::vector<std::string> calls;

 private:
  void Call(const std::string& what) {
    calls.push_back(what);
    if (what.rfind(fail_on_, 0) == 0 && !fail_on_.empty()) {
      throw std::runtime_error(what + " refused");
    }
  }
  std::string fail_on_;
};

class InstallTest : public ::testing::Test {
 protected:
  testing::TempDir tmp_{"host_install"};
  const std::string dir_ = tmp_.path();
  const std::string unit_ = dir_ + "/dct_korvelmobile.service";
};

TEST_F(InstallTest, InstallWritesTheUnitAndEnablesIt) {
  FakeManager manager;
  InstallService(dir_, "/opt/dct/dct_korvelmobilesvc", &manager);
  EXPECT_EQ(ReadAll(unit_), UnitFileText("/opt/dct/dct_korvelmobilesvc"));
  EXPECT_EQ(manager.calls, (std::vector<std::string>{"reload", "enable dct_korvelmobile.service"}));
}

TEST_F(InstallTest, InstallOverAnExistingUnitFailsAndKeepsIt) {
  InstallService(dir_, "/first/prog", nullptr);
  FakeManager manager;
  try {
    InstallService(dir_ + "/", "/second/prog", &manager);
    FAIL() << "second install succeeded";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadAll(unit_), UnitFileText("/first/prog"));
  EXPECT_TRUE(manager.calls.empty());
}

TEST_F(InstallTest, FailureAfterTheUnitWasWrittenRemovesItAgain) {
  for (const char* step : {"reload", "enable"}) {
    FakeManager manager(step);
    try {
      InstallService(dir_, "/opt/prog", &manager);
      FAIL() << "install succeeded with " << step << " failing";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("refused"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(unit_)) << step;
  }
}

TEST_F(InstallTest, InstallIntoAMissingFolderFails) {
  EXPECT_THROW(InstallService(dir_ + "/missing", "/opt/prog", nullptr), std::runtime_error);
}

TEST_F(InstallTest, UninstallDisablesThenRemoves) {
  InstallService(dir_, "/opt/prog", nullptr);
  FakeManager manager;
  UninstallService(dir_, &manager);
  EXPECT_FALSE(fs::exists(unit_));
  EXPECT_EQ(manager.calls, (std::vector<std::string>{"disable dct_korvelmobile.service", "reload"}));
}

TEST_F(InstallTest, UninstallOfAMissingUnitFails) {
  FakeManager manager;
  try {
    UninstallService(dir_, &manager);
    FAIL() << "uninstall of nothing succeeded";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("does not exist"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(manager.calls.empty());
}

TEST_F(InstallTest, RefusedDisableKeepsTheUnitAndAFailedLastReloadIsIgnored) {
  InstallService(dir_, "/opt/prog", nullptr);
  FakeManager refuses_disable("disable");
  EXPECT_THROW(UninstallService(dir_, &refuses_disable), std::runtime_error);
  EXPECT_TRUE(fs::exists(unit_));

  FakeManager refuses_reload("reload");
  UninstallService(dir_, &refuses_reload);
  EXPECT_FALSE(fs::exists(unit_));
}

TEST(UnitDirTest, OnlyTheSystemFolderGoesThroughTheServiceManager) {
  EXPECT_FALSE(UnitDirIsSystemd("/tmp/units"));
  EXPECT_EQ(UnitDirIsSystemd("/etc/systemd/system"), SystemdRunning());
  EXPECT_EQ(UnitDirIsSystemd("/etc//systemd/system/"), SystemdRunning());
}

}  // namespace
}  // namespace dct
