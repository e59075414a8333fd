#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/TestSupport.h"
#include "support/uPrivateFile.h"

namespace dct {
namespace {

namespace fs = std::filesystem;
using testing::TTempDir;

std::string Text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Whatever stands at the name, the new file is never written through it or over it.
TEST(PrivateFileTest, CreatesOnlyWhereNothingIsAndNeverThroughALink) {
  TTempDir dir;
  const fs::path victim = fs::path(dir.Path()) / "victim";
  enum TPlanted { kNothing, kFile, kLink, kDanglingLink };
  for (const TPlanted planted : {kNothing, kFile, kLink, kDanglingLink}) {
    SCOPED_TRACE(planted);
    const fs::path name = fs::path(dir.Path()) / "new.part";
    fs::remove(name);
    fs::remove(victim);
    if (planted == kFile) Write(name, "old");
    if (planted == kLink || planted == kDanglingLink) fs::create_symlink(victim, name);
    if (planted == kLink) Write(victim, "secret");
    if (planted == kNothing) {
      const mode_t before = ::umask(0);  // even a wide-open umask gives the owner alone
      CreatePrivateFile(name.string(), "abc");
      ::umask(before);
      struct stat st {};
      ASSERT_EQ(::lstat(name.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0600u);
      EXPECT_EQ(Text(name), "abc");
      continue;
    }
    EXPECT_THROW(CreatePrivateFile(name.string(), "abc"), std::runtime_error);
    if (planted == kFile) {
      EXPECT_EQ(Text(name), "old");
    }
    EXPECT_EQ(Text(victim), planted == kLink ? "secret" : "");  // a dangling link brings none about
    EXPECT_EQ(fs::exists(victim), planted == kLink);
  }
}

TEST(PrivateFileTest, IdentityIsTheFileItselfNeverALinkToIt) {
  TTempDir dir;
  const fs::path file = fs::path(dir.Path()) / "0.db";
  Write(file, "x");
  fs::create_symlink(file, fs::path(dir.Path()) / "link.db");
  fs::create_hard_link(file, fs::path(dir.Path()) / "hard.db");
  TFileIdentity a, b;
  std::string error;
  ASSERT_TRUE(RegularFileIdentity(file.string(), a, error)) << error;
  ASSERT_TRUE(RegularFileIdentity(dir.Path() + "/hard.db", b, error)) << error;
  EXPECT_EQ(a, b);
  const struct {
    std::string Name;
    std::string Error;
  } refused[] = {{"link.db", "it is a symbolic link"}, {"", "it is not a regular file"}, {"none.db", ""}};
  for (const auto& c : refused) {
    SCOPED_TRACE(c.Name);
    error.clear();
    EXPECT_FALSE(RegularFileIdentity(dir.Path() + "/" + c.Name, b, error));
    if (!c.Error.empty()) {
      EXPECT_EQ(error, c.Error);
    }
    EXPECT_FALSE(error.empty());
  }
}

TEST(PrivateFileTest, SyncRefusesALink) {
  TTempDir dir;
  const fs::path file = fs::path(dir.Path()) / "f";
  Write(file, "x");
  fs::create_symlink(file, fs::path(dir.Path()) / "l");
  EXPECT_NO_THROW(SyncFile(file.string()));
  EXPECT_THROW(SyncFile(dir.Path() + "/l"), std::runtime_error);
  EXPECT_TRUE(SyncFolder(dir.Path()));
  EXPECT_FALSE(SyncFolder(dir.Path() + "/none"));
}

}  // namespace
}  // namespace dct
