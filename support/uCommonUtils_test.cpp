#include "support/uCommonUtils.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace dct {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnv;

using testing::TempDir;

// Restores the machine-wide folder default however a test ends.
struct ScopedDataRoot {
  explicit ScopedDataRoot(const std::string& root) { SetCommonAppDataRoot(root); }
  ~ScopedDataRoot() { SetCommonAppDataRoot(""); }
};

bool IsFolder(const std::string& path) { return fs::is_directory(path); }

void WriteFile(const std::string& path) { std::ofstream(path) << "x"; }

TEST(PathTextTest, TrailingDelimiterAndFolderPart) {
  struct Case {
    const char* in;
    const char* withDelimiter;
    const char* folderPart;
  } cases[] = {
      {"/a/b", "/a/b/", "/a/"}, {"/a/b/", "/a/b/", "/a/b/"}, {"/a/b///", "/a/b/", "/a/b///"},
      {"/prog", "/prog/", "/"},  // a program in the root folder lives in "/"
      {"/", "/", "/"},          {"prog", "prog/", ""},       {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IncludeTrailingPathDelimiter(c.in), c.withDelimiter) << c.in;
    EXPECT_EQ(ExtractFilePath(c.in), c.folderPart) << c.in;
  }
}

TEST(ForceDirectoriesTest, CreatesEveryLevelAndReportsWhatBlocksIt) {
  TempDir tmp;
  std::string deep = tmp.path() + "/a/b//c/";
  ASSERT_TRUE(ForceDirectories(deep));
  EXPECT_TRUE(IsFolder(tmp.path() + "/a/b/c"));
  EXPECT_TRUE(ForceDirectories(tmp.path() + "/a/b"));  // existing levels are fine

  WriteFile(tmp.path() + "/file");
  errno = 0;
  EXPECT_FALSE(ForceDirectories(tmp.path() + "/file/sub"));
  EXPECT_EQ(errno, ENOTDIR);
  errno = 0;
  EXPECT_FALSE(ForceDirectories(tmp.path() + "/file"));
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_FALSE(ForceDirectories(""));
}

TEST(SpecialFolderTest, MachineWideFolderIsTheDataRootCreatedWithOneDelimiter) {
  TempDir tmp;
  ScopedEnv xdg("XDG_DATA_HOME", tmp.path() + "/user");
  for (const char* suffix : {"/root", "/root/", "/root//"}) {
    ScopedDataRoot root(tmp.path() + suffix);
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_APPDATA), tmp.path() + "/root/") << suffix;
  }
  EXPECT_TRUE(IsFolder(tmp.path() + "/root"));
  EXPECT_FALSE(IsFolder(tmp.path() + "/user"));  // the fallback was not needed
}

TEST(SpecialFolderTest, MachineWideFolderThatCannotBeCreatedFallsBackToTheUserFolder) {
  TempDir tmp;
  WriteFile(tmp.path() + "/file");
  ScopedEnv xdg("XDG_DATA_HOME", tmp.path() + "/user/");
  ScopedDataRoot root(tmp.path() + "/file/root");
  EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_APPDATA), tmp.path() + "/user/");
  EXPECT_TRUE(IsFolder(tmp.path() + "/user"));
}

TEST(SpecialFolderTest, UserFolderFollowsTheXdgRules) {
  TempDir tmp;
  struct Case {
    std::optional<std::string> xdg;
    std::string expected;
  } cases[] = {
      {tmp.path() + "/xdg", tmp.path() + "/xdg/"},
      {tmp.path() + "/xdg2//", tmp.path() + "/xdg2/"},
      {std::nullopt, tmp.path() + "/home/.local/share/"},
      {std::string(), tmp.path() + "/home/.local/share/"},
      {std::string("relative/xdg"), tmp.path() + "/home/.local/share/"},
  };
  ScopedEnv home("HOME", tmp.path() + "/home");
  for (const Case& c : cases) {
    ScopedEnv xdg("XDG_DATA_HOME", c.xdg);
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_APPDATA), c.expected) << c.xdg.value_or("(unset)");
    EXPECT_TRUE(IsFolder(c.expected));
  }
  // A number without a folder of its own stands in with the user folder.
  ScopedEnv xdg("XDG_DATA_HOME", tmp.path() + "/xdg");
  EXPECT_EQ(GetSpecialFolderPath(5), tmp.path() + "/xdg/");
}

TEST(SpecialFolderTest, EndsWithEmptyTextWhenNoFolderCanBeHad) {
  TempDir tmp;
  WriteFile(tmp.path() + "/file");
  ScopedEnv xdg("XDG_DATA_HOME", std::nullopt);
  ScopedEnv home("HOME", tmp.path() + "/file/home");
  EXPECT_EQ(GetSpecialFolderPath(CSIDL_APPDATA), "");
  ScopedDataRoot root(tmp.path() + "/file/root");
  EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_APPDATA), "");
}

}  // namespace
}  // namespace dct
