#include "support/uCommonUtils.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "support/TestSupport.h"

namespace dct {
namespace {

namespace fs = std::filesystem;
using testing::TScopedDataRoot;
using testing::TTempDir;

// Paths here are UTF-8; a narrow std::filesystem path on Windows is in the ANSI code page.
fs::path U8(const std::string& path) { return fs::path(std::u8string(path.begin(), path.end())); }

std::string FileNameOf(const std::string& path) {
  const std::u8string name = U8(path).filename().u8string();
  return std::string(name.begin(), name.end());
}

bool EndsWithOneDelimiter(const std::string& path) {
  return path.size() >= 2 && path.back() == '\\' && path[path.size() - 2] != '\\' &&
         path[path.size() - 2] != '/';
}

TEST(ModulePathTest, ProgramFolderHoldsTheRunningTest) {
  const std::string exe = GetModuleFilePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_TRUE(fs::is_regular_file(U8(exe))) << exe;
  EXPECT_EQ(U8(exe).extension().string(), ".exe");
  const std::string folder = GetProgramFolder();
  EXPECT_TRUE(EndsWithOneDelimiter(folder)) << folder;
  EXPECT_EQ(folder + FileNameOf(exe), exe);
}

TEST(PathTextTest, BackslashIsWrittenAndBothDelimitersAreRead) {
  struct TCase {
    const char* In;
    const char* WithDelimiter;
    const char* FolderPart;
  } cases[] = {
      {"C:\\prog.exe", "C:\\prog.exe\\", "C:\\"},  // a program in the root of a drive
      {"C:\\a\\b\\\\", "C:\\a\\b\\", "C:\\a\\b\\\\"},
      {"C:/a/b", "C:/a/b\\", "C:/a/"},
      {"C:\\a/b/", "C:\\a/b\\", "C:\\a/b/"},
      {"\\\\server\\share\\f", "\\\\server\\share\\f\\", "\\\\server\\share\\"},
      {"/", "\\", "/"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(IncludeTrailingPathDelimiter(c.In), c.WithDelimiter) << c.In;
    EXPECT_EQ(ExtractFilePath(c.In), c.FolderPart) << c.In;
  }
}

TEST(ForceDirectoriesTest, TakesEitherDelimiterAndStopsAtAFile) {
  TTempDir tmp;
  ASSERT_TRUE(ForceDirectories(tmp.Path() + "\\a/b\\\\c//"));
  EXPECT_TRUE(fs::is_directory(tmp.Path() + "\\a\\b\\c"));
  std::ofstream(tmp.Path() + "\\file") << "x";
  errno = 0;
  EXPECT_FALSE(ForceDirectories(tmp.Path() + "/file/sub"));
  EXPECT_EQ(errno, ENOTDIR);
  if (GetLogicalDrives() & (1u << ('Q' - 'A'))) GTEST_SKIP() << "this machine has a drive Q:";
  errno = 0;
  EXPECT_FALSE(ForceDirectories("Q:\\no-such-drive\\sub"));
  EXPECT_EQ(errno, ENOENT);
}

TEST(SpecialFolderTest, ShellFoldersEndWithOneBackslashAndExist) {
  for (int csidl : {CSIDL_APPDATA, CSIDL_COMMON_APPDATA}) {
    const std::string folder = GetSpecialFolderPath(csidl);
    ASSERT_FALSE(folder.empty()) << csidl;
    EXPECT_TRUE(EndsWithOneDelimiter(folder)) << folder;
    EXPECT_TRUE(fs::is_directory(U8(folder))) << folder;
  }
  // A number without a folder of its own stands in with the user folder.
  EXPECT_EQ(GetSpecialFolderPath(5), GetSpecialFolderPath(CSIDL_APPDATA));
}

TEST(SpecialFolderTest, DataRootThatCannotBeCreatedFallsBackToTheUserFolder) {
  TTempDir tmp;
  std::ofstream(tmp.Path() + "\\file") << "x";
  TScopedDataRoot root(tmp.Path() + "\\file\\root");
  const std::string user = GetSpecialFolderPath(CSIDL_APPDATA);
  ASSERT_FALSE(user.empty());
  EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_APPDATA), user);
}

// The writability probe is a real file: it must not stay behind in the folder it tested.
TEST(SpecialFolderTest, DataRootIsTestedWithoutLeavingAFile) {
  TTempDir tmp;
  const std::string folder = tmp.Path() + "\\root";
  TScopedDataRoot root(folder);
  EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_APPDATA), folder + "\\");
  EXPECT_TRUE(fs::is_empty(folder));
}

}  // namespace
}  // namespace dct
