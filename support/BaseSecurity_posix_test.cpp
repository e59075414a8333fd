#include "support/BaseSecurity.h"
#include "support/TestSupport.h"

#include <acl/libacl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <system_error>

namespace dct {
namespace {

namespace fs = std::filesystem;

using testing::TTempDir;

constexpr uid_t kNobody = 65534;

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st;
}

std::string DefaultAclText(const std::string& path) {
  acl_t acl = acl_get_file(path.c_str(), ACL_TYPE_DEFAULT);
  if (acl == nullptr) return "(error)";
  char* text = acl_to_any_text(acl, nullptr, ',', TEXT_NUMERIC_IDS);
  std::string result = text ? text : "(error)";
  acl_free(text);
  acl_free(acl);
  return result;
}

void SetDefaultAcl(const std::string& path, const char* text) {
  acl_t acl = acl_from_text(text);
  ASSERT_NE(acl, nullptr) << text;
  ASSERT_EQ(acl_set_file(path.c_str(), ACL_TYPE_DEFAULT, acl), 0) << text;
  acl_free(acl);
}

bool SameChangeTime(const struct stat& a, const struct stat& b) {
  return a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Runs `body` in a child process as the unprivileged user nobody; true when it succeeded.
bool RunAsNobody(const std::function<bool()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    bool ok = setgid(kNobody) == 0 && setuid(kNobody) == 0 && body();
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CreateWriteRead(const std::string& file) {
  int fd = open(file.c_str(), O_CREAT | O_RDWR, 0666);
  if (fd < 0) return false;
  bool ok = write(fd, "abc", 3) == 3 && lseek(fd, 0, SEEK_SET) == 0;
  char buf[3];
  ok = ok && read(fd, buf, 3) == 3;
  close(fd);
  return ok;
}

TEST(GrantFolderAccessTest, EveryUserCanCreateWriteAndDeleteInTheFolderAndBelow) {
  TTempDir tmp;
  std::string folder = tmp.Path() + "/shared";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  GrantFolderAccess(folder);

  EXPECT_EQ(Stat(folder).st_mode & 0777, 0777u);
  EXPECT_EQ(DefaultAclText(folder), "user::rwx,group::rwx,other::rwx");

  // What the service creates later is open to others, whatever its umask.
  mode_t oldMask = umask(022);
  ASSERT_TRUE(CreateWriteRead(folder + "/by_service"));
  ASSERT_EQ(mkdir((folder + "/sub").c_str(), 0777), 0);
  umask(oldMask);
  EXPECT_EQ(Stat(folder + "/by_service").st_mode & 0666, 0666u);
  EXPECT_EQ(Stat(folder + "/sub").st_mode & 0777, 0777u);
  EXPECT_EQ(DefaultAclText(folder + "/sub"), "user::rwx,group::rwx,other::rwx");

  if (geteuid() != 0) GTEST_SKIP() << "checking another user's access needs root";
  EXPECT_TRUE(RunAsNobody([&] {
    return CreateWriteRead(folder + "/by_nobody") && CreateWriteRead(folder + "/by_service") &&
           mkdir((folder + "/sub/deeper").c_str(), 0777) == 0 &&
           CreateWriteRead(folder + "/sub/deeper/file") &&
           unlink((folder + "/sub/deeper/file").c_str()) == 0 &&
           rmdir((folder + "/sub/deeper").c_str()) == 0 && unlink((folder + "/by_service").c_str()) == 0 &&
           unlink((folder + "/by_nobody").c_str()) == 0;
  }));
  EXPECT_FALSE(fs::exists(folder + "/by_service"));
}

TEST(GrantFolderAccessTest, AFolderAlreadyGrantedIsLeftUntouched) {
  TTempDir tmp;
  std::string folder = tmp.Path() + "/shared";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  GrantFolderAccess(folder);
  struct stat before = Stat(folder);
  GrantFolderAccess(folder);
  EXPECT_TRUE(SameChangeTime(before, Stat(folder)));  // no chmod, no ACL write
}

TEST(GrantFolderAccessTest, APartialGrantIsCompletedAndNamedEntriesKept) {
  struct TCase {
    const char* DefaultAcl;  // null: none
    mode_t Mode;
    const char* Expected;
  } cases[] = {
      {nullptr, 0755, "user::rwx,group::rwx,other::rwx"},
      {"u::rwx,g::r-x,o::r-x", 0777, "user::rwx,group::rwx,other::rwx"},
      {"u::rwx,g::rwx,o::---", 0777, "user::rwx,group::rwx,other::rwx"},
      {"u::rwx,u:65534:r-x,g::r-x,m::r-x,o::r-x", 0750,
       "user::rwx,user:65534:r-x,group::rwx,mask::rwx,other::rwx"},
  };
  for (const TCase& c : cases) {
    TTempDir tmp;
    std::string folder = tmp.Path() + "/f";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(chmod(folder.c_str(), c.Mode), 0);
    if (c.DefaultAcl) SetDefaultAcl(folder, c.DefaultAcl);
    GrantFolderAccess(folder);
    EXPECT_EQ(DefaultAclText(folder), c.Expected) << (c.DefaultAcl ? c.DefaultAcl : "none");
    EXPECT_EQ(Stat(folder).st_mode & 0777, 0777u);
  }
}

TEST(GrantFolderAccessTest, FailuresAreSystemErrors) {
  TTempDir tmp;
  std::string file = tmp.Path() + "/file";
  std::ofstream(file) << "x";
  struct TCase {
    std::string Path;
    int Code;
  } cases[] = {{tmp.Path() + "/missing", ENOENT}, {file, ENOTDIR}, {file + "/sub", ENOTDIR}};
  for (const TCase& c : cases) {
    try {
      GrantFolderAccess(c.Path);
      ADD_FAILURE() << "no error for " << c.Path;
    } catch (const std::system_error& e) {
      EXPECT_EQ(e.code().value(), c.Code) << c.Path;
      EXPECT_NE(std::string(e.what()).find(c.Path), std::string::npos) << e.what();
    }
  }
}

TEST(GrantFileAccessTest, OpensTheFileToEveryUserOnlyWhenNeeded) {
  TTempDir tmp;
  std::string file = tmp.Path() + "/db";
  std::ofstream(file) << "x";
  ASSERT_EQ(chmod(file.c_str(), 0600), 0);
  GrantFileAccess(file);
  EXPECT_EQ(Stat(file).st_mode & 0777, 0666u);
  struct stat before = Stat(file);
  GrantFileAccess(file);
  EXPECT_TRUE(SameChangeTime(before, Stat(file)));

  try {
    GrantFileAccess(tmp.Path() + "/missing");
    ADD_FAILURE() << "no error for a missing file";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), ENOENT);
  }
  if (geteuid() != 0) GTEST_SKIP() << "checking another user's access needs root";
  EXPECT_TRUE(RunAsNobody([&] {
    int fd = open(file.c_str(), O_RDWR);
    bool ok = fd >= 0 && write(fd, "y", 1) == 1;
    if (fd >= 0) close(fd);
    return ok;
  }));
}

}  // namespace
}  // namespace dct
