#include "support/uCommonUtils.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace dct {

namespace {

constexpr const char kDefaultCommonAppData[] = "/var/lib/";
// Longest executable path accepted from /proc/self/exe; the kernel's own limit is PATH_MAX,
// a readlink result that fills the buffer is treated as cut off and the buffer doubled once
// more, up to this bound.
constexpr size_t kMaxModulePath = 64 * 1024;

std::mutex g_rootMutex;
std::string g_commonAppDataRoot;  // empty: the default

// A folder the process can create files in: exists (created if needed), is a folder, and
// grants write and search access to this process.
bool UsableFolder(const std::string& folder) {
  if (folder.empty() || !ForceDirectories(folder)) return false;
  return access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string UserDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  // The XDG rules ignore a relative value; so do we.
  if (xdg != nullptr && xdg[0] == '/') return IncludeTrailingPathDelimiter(xdg);
  std::string home;
  if (const char* env = std::getenv("HOME"); env != nullptr && env[0] == '/') {
    home = env;
  } else {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
      home = found->pw_dir;
    }
  }
  if (home.empty()) return {};
  return IncludeTrailingPathDelimiter(home) + ".local/share/";
}

}  // namespace

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (path.empty()) return path;
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  return path.substr(0, end + 1) + "/";
}

std::string ExtractFilePath(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

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

std::string GetProgramFolder() { return ExtractFilePath(GetModuleFilePath()); }

void SetCommonAppDataRoot(const std::string& folder) {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  g_commonAppDataRoot = folder;
}

std::string GetSpecialFolderPath(int csidl) {
  if (csidl == CSIDL_COMMON_APPDATA) {
    std::string root;
    {
      std::lock_guard<std::mutex> lock(g_rootMutex);
      root = g_commonAppDataRoot.empty() ? std::string(kDefaultCommonAppData) : g_commonAppDataRoot;
    }
    root = IncludeTrailingPathDelimiter(root);
    if (UsableFolder(root)) return root;
  }
  // 26, and the stand-in for every folder that cannot be had. It does not fall back further.
  std::string user = UserDataFolder();
  if (!UsableFolder(user)) return {};
  return user;
}

bool ForceDirectories(const std::string& folder) {
  if (folder.empty()) {
    errno = ENOENT;
    return false;
  }
  std::string path = IncludeTrailingPathDelimiter(folder);
  // Create each level in turn; a level that exists already is fine if it is a folder.
  for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
    if (path[pos - 1] == '/') continue;  // "//" inside the path
    std::string level = path.substr(0, pos);
    if (mkdir(level.c_str(), 0777) == 0) continue;
    int err = errno;
    struct stat st {};
    if (err == EEXIST && stat(level.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) continue;
      err = ENOTDIR;
    }
    errno = err;
    return false;
  }
  return true;
}

}  // namespace dct
