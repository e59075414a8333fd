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
using testing::TScopedDataRoot;
using testing::TScopedEnv;
using testing::TTempDir;

bool IsFolder(const std::string& path) { return fs::is_directory(path); }

void WriteFile(const std::string& path) { std::ofstream(path) << "x"; }

TEST(PathTextTest, TrailingDelimiterAndFolderPart) {
  struct TCase {
    const char* In;
    const char* WithDelimiter;
    const char* FolderPart;
  } cases[] = {
      {"/a/b", "/a/b/", "/a/"}, {"/a/b/", "/a/b/", "/a/b/"}, {"/a/b///", "/a/b/", "/a/b///"},
      {"/prog", "/prog/", "/"},  // a program in the root folder lives in "/"
      {"/", "/", "/"},          {"prog", "prog/", ""},       {"", "", ""},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(IncludeTrailingPathDelimiter(c.In), c.WithDelimiter) << c.In;
    EXPECT_EQ(ExtractFilePath(c.In), c.FolderPart) << c.In;
  }
}

TEST(ForceDirectoriesTest, CreatesEveryLevelAndReportsWhatBlocksIt) {
  TTempDir tmp;
  std::string deep = tmp.Path() + "/a/b//c/";
  ASSERT_TRUE(ForceDirectories(deep));
  EXPECT_TRUE(IsFolder(tmp.Path() + "/a/b/c"));
  EXPECT_TRUE(ForceDirectories(tmp.Path() + "/a/b"));  // existing levels are fine

  WriteFile(tmp.Path() + "/file");
  errno = 0;
  EXPECT_FALSE(ForceDirectories(tmp.Path() + "/file/sub"));
  EXPECT_EQ(errno, ENOTDIR);
  errno = 0;
  EXPECT_FALSE(ForceDirectories(tmp.Path() + "/file"));
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_FALSE(ForceDirectories(""));
}

TEST(SpecialFolderTest, MachineWideFolderIsTheDataRootCreatedWithOneDelimiter) {
  TTempDir tmp;
  TScopedEnv xdg("XDG_DATA_HOME", tmp.Path() + "/user");
  for (const char* suffix : {"/root", "/root/", "/root//"}) {
    TScopedDataRoot root(tmp.Path() + suffix);
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_APPDATA), tmp.Path() + "/root/") << suffix;
  }
  EXPECT_TRUE(IsFolder(tmp.Path() + "/root"));
  EXPECT_FALSE(IsFolder(tmp.Path() + "/user"));  // the fallback was not needed
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
