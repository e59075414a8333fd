#include "support/TestSupport.h"
#include "support/uCommonUtils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

namespace dct {
namespace {

namespace fs = std::filesystem;
using testing::TScopedDataRoot;
using testing::TScopedEnv;
using testing::TTempDir;

bool IsFolder(const std::string& path) { return fs::is_directory(path); }

void WriteFile(const std::string& path) { std::ofstream(path) << "x"; }

TEST(ModulePathTest, ProgramFolderHoldsTheRunningTest) {
  std::string exe = GetModuleFilePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe, fs::canonical("/proc/self/exe").string());
  std::string folder = GetProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_FALSE(folder.size() >= 2 && folder.compare(folder.size() - 2, 2, "//") == 0);
  EXPECT_EQ(folder + fs::path(exe).filename().string(), exe);
}

TEST(SpecialFolderTest, MachineWideFolderThatCannotBeWrittenFallsBackToTheUserFolder) {
  TTempDir tmp;
  ASSERT_EQ(chmod(tmp.Path().c_str(), 0755), 0);
  ASSERT_TRUE(ForceDirectories(tmp.Path() + "/ro"));
  ASSERT_EQ(chmod((tmp.Path() + "/ro").c_str(), 0555), 0);
  ASSERT_TRUE(ForceDirectories(tmp.Path() + "/user"));
  ASSERT_EQ(chmod((tmp.Path() + "/user").c_str(), 0777), 0);
  TScopedEnv xdg("XDG_DATA_HOME", tmp.Path() + "/user");
  TScopedDataRoot root(tmp.Path() + "/ro");
  std::string expected = tmp.Path() + "/user/";
  if (geteuid() != 0) {
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_APPDATA), expected);
    return;
  }
  // Root writes every folder: ask as the unprivileged user nobody instead.
  pid_t pid = fork();
  if (pid == 0) {
    bool ok =
        setgid(65534) == 0 && setuid(65534) == 0 && GetSpecialFolderPath(CSIDL_COMMON_APPDATA) == expected;
    _exit(ok ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(SpecialFolderTest, MachineWideFolderThatCannotBeCreatedFallsBackToTheUserFolder) {
  TTempDir tmp;
  WriteFile(tmp.Path() + "/file");
  TScopedEnv xdg("XDG_DATA_HOME", tmp.Path() + "/user/");
  TScopedDataRoot root(tmp.Path() + "/file/root");
  EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_APPDATA), tmp.Path() + "/user/");
  EXPECT_TRUE(IsFolder(tmp.Path() + "/user"));
}

TEST(SpecialFolderTest, UserFolderFollowsTheXdgRules) {
  TTempDir tmp;
  struct TCase {
    std::optional<std::string> Xdg;
    std::string Expected;
  } cases[] = {
      {tmp.Path() + "/xdg", tmp.Path() + "/xdg/"},
      {tmp.Path() + "/xdg2//", tmp.Path() + "/xdg2/"},
      {std::nullopt, tmp.Path() + "/home/.local/share/"},
      {std::string(), tmp.Path() + "/home/.local/share/"},
      {std::string("relative/xdg"), tmp.Path() + "/home/.local/share/"},
  };
  TScopedEnv home("HOME", tmp.Path() + "/home");
  for (const TCase& c : cases) {
    TScopedEnv xdg("XDG_DATA_HOME", c.Xdg);
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_APPDATA), c.Expected) << c.Xdg.value_or("(unset)");
    EXPECT_TRUE(IsFolder(c.Expected));
  }
  // A number without a folder of its own stands in with the user folder.
  TScopedEnv xdg("XDG_DATA_HOME", tmp.Path() + "/xdg");
  EXPECT_EQ(GetSpecialFolderPath(5), tmp.Path() + "/xdg/");
}

TEST(SpecialFolderTest, EndsWithEmptyTextWhenNoFolderCanBeHad) {
  TTempDir tmp;
  WriteFile(tmp.Path() + "/file");
  TScopedEnv xdg("XDG_DATA_HOME", std::nullopt);
  TScopedEnv home("HOME", tmp.Path() + "/file/home");
  EXPECT_EQ(GetSpecialFolderPath(CSIDL_APPDATA), "");
  TScopedDataRoot root(tmp.Path() + "/file/root");
  EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_APPDATA), "");
}

}  // namespace
}  // namespace dct
