#include "support/uCommonUtils.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace dct {

namespace {

constexpr const char kDefaultCommonAppData[] = "/var/lib/";
// Longest executable path accepted from /proc/self/exe; the kernel's own limit is PATH_MAX,
// a readlink result that fills the buffer is treated as cut off and the buffer doubled once
// more, up to this bound.
constexpr size_t kMaxModulePath = 64 * 1024;

// The home folder the account database gives the running user; empty text when there is
// none, or when it is not an absolute path.
std::string AccountHomeFolder() {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return {};
}

}  // namespace

const char kPathDelimiter[] = "/";
const char kPathDelimiters[] = "/";
const char kNotInFileName[] = "/";

std::string GetModuleFilePath() {
  std::vector<char> buf(4096);
  while (buf.size() <= kMaxModulePath) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
  return {};
}

std::string DefaultCommonAppDataFolder() { return kDefaultCommonAppData; }

std::string UserDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  // The XDG rules ignore a relative value; so do we.
  if (xdg != nullptr && xdg[0] == '/') return IncludeTrailingPathDelimiter(xdg);
  std::string home;
  if (const char* env = std::getenv("HOME"); env != nullptr && env[0] == '/') {
    home = env;
  } else {
    home = AccountHomeFolder();
  }
  if (home.empty()) return {};
  return IncludeTrailingPathDelimiter(home) + ".local/share/";
}

bool CreateFolderLevel(const std::string& level) {
  if (mkdir(level.c_str(), 0777) == 0) return true;
  int err = errno;
  struct stat st {};
  if (err == EEXIST && stat(level.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    err = ENOTDIR;
  }
  errno = err;
  return false;
}

// Search access too: a folder that can be written but not entered takes no file.
bool FolderWritable(const std::string& folder) { return access(folder.c_str(), W_OK | X_OK) == 0; }

}  // namespace dct
