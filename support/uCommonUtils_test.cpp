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
using testing::NativePath;
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
    EXPECT_EQ(IncludeTrailingPathDelimiter(NativePath(c.In)), NativePath(c.WithDelimiter)) << c.In;
    EXPECT_EQ(ExtractFilePath(NativePath(c.In)), NativePath(c.FolderPart)) << c.In;
  }
}

TEST(ForceDirectoriesTest, CreatesEveryLevelAndReportsWhatBlocksIt) {
  TTempDir tmp;
  std::string deep = tmp.Path() + NativePath("/a/b//c/");
  ASSERT_TRUE(ForceDirectories(deep));
  EXPECT_TRUE(IsFolder(tmp.Path() + NativePath("/a/b/c")));
  EXPECT_TRUE(ForceDirectories(tmp.Path() + NativePath("/a/b")));  // existing levels are fine

  WriteFile(tmp.Path() + NativePath("/file"));
  errno = 0;
  EXPECT_FALSE(ForceDirectories(tmp.Path() + NativePath("/file/sub")));
  EXPECT_EQ(errno, ENOTDIR);
  errno = 0;
  EXPECT_FALSE(ForceDirectories(tmp.Path() + NativePath("/file")));
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_FALSE(ForceDirectories(""));
}

TEST(SpecialFolderTest, MachineWideFolderIsTheDataRootCreatedWithOneDelimiter) {
  TTempDir tmp;
  TScopedEnv xdg("XDG_DATA_HOME", tmp.Path() + "/user");
  for (const char* suffix : {"/root", "/root/", "/root//"}) {
    TScopedDataRoot root(tmp.Path() + NativePath(suffix));
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_APPDATA), tmp.Path() + NativePath("/root/")) << suffix;
  }
  EXPECT_TRUE(IsFolder(tmp.Path() + NativePath("/root")));
  EXPECT_FALSE(IsFolder(tmp.Path() + "/user"));  // the fallback was not needed
}

}  // namespace
}  // namespace dct
