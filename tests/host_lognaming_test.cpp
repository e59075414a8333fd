// The log-file naming across two modules of one process: this program and a shared
// library, each with its own copy of the BaseLog unit, agree on one name.
#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/BaseLog.h"
#include "support/uCommonUtils.h"
#include "support/TestSupport.h"

namespace dct {
namespace {

namespace fs = std::filesystem;

class LogNamingAcrossModulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCommonAppDataRoot(root_);
    module_ = dlopen(HOST_LOGNAMING_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module_, nullptr) << dlerror();
    start_ = reinterpret_cast<void (*)(const char*)>(dlsym(module_, "host_lognaming_module_start"));
    end_ = reinterpret_cast<void (*)()>(dlsym(module_, "host_lognaming_module_end"));
    is_host_ = reinterpret_cast<int (*)()>(dlsym(module_, "host_lognaming_module_is_host"));
    name_ = reinterpret_cast<const char* (*)()>(dlsym(module_, "host_lognaming_module_name"));
    ASSERT_TRUE(start_ && end_ && is_host_ && name_);
  }
  void TearDown() override {
    if (end_) end_();
    if (module_) dlclose(module_);
    SetCommonAppDataRoot("");
  }
  // Appends, not "+": see BaseLog_test.cpp.
  std::string Suffix() const {
    return std::string("_").append(GetLogComputerName()).append("_")
        .append(std::to_string(GetLogSessionId())).append(".log");
  }

  testing::TTempDir tmp_{"host_lognaming"};
  const std::string root_ = tmp_.Path();
  void* module_ = nullptr;
  void (*start_)(const char*) = nullptr;
  void (*end_)() = nullptr;
  int (*is_host_)() = nullptr;
  const char* (*name_)() = nullptr;
};

TEST_F(LogNamingAcrossModulesTest, LibraryStartedAfterTheProgramTakesTheProgramsName) {
  TBaseLog program;
  ASSERT_TRUE(program.IsHost());
  const std::string expected =
      root_ + "/ZeltEquipment/LOGs/" + ModuleBaseName(GetModuleFilePath()) + Suffix();
  EXPECT_EQ(std::string(program.LogFileName()), expected);
  EXPECT_TRUE(fs::is_directory(root_ + "/ZeltEquipment/LOGs"));

  start_("/nonexistent-root-of-the-library");  // not host: its own folder is never used
  EXPECT_EQ(is_host_(), 0);
  EXPECT_EQ(std::string(name_()), expected);
  EXPECT_FALSE(fs::exists("/nonexistent-root-of-the-library"));
}

TEST_F(LogNamingAcrossModulesTest, LibraryStartedFirstIsTheHostUnderItsOwnName) {
  start_(root_.c_str());
  ASSERT_EQ(is_host_(), 1);
  const std::string library_name = name_();
  EXPECT_EQ(library_name, root_ + "/ZeltEquipment/LOGs/" +
                              ModuleBaseName(HOST_LOGNAMING_MODULE) + Suffix());
  {
    TBaseLog program;
    EXPECT_FALSE(program.IsHost());
    EXPECT_EQ(std::string(program.LogFileName()), library_name);
  }
  // The host's end takes the marker and the slot with it: the program becomes the host.
  end_();
  TBaseLog program;
  EXPECT_TRUE(program.IsHost());
  EXPECT_EQ(std::string(program.LogFileName()),
            root_ + "/ZeltEquipment/LOGs/" + ModuleBaseName(GetModuleFilePath()) + Suffix());
}

}  // namespace
}  // namespace dct
