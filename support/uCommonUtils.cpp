#include "support/uCommonUtils.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace dct {

namespace {

std::mutex GRootMutex;
std::string GCommonAppDataRoot;  // empty: the default

// A folder the process can create files in: exists (created if needed), is a folder, and
// grants write and search access to this process.
bool UsableFolder(const std::string& folder) {
  if (folder.empty() || !ForceDirectories(folder)) return false;
  return FolderWritable(folder);
}

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

std::string GetProgramFolder() { return ExtractFilePath(GetModuleFilePath()); }

void SetCommonAppDataRoot(const std::string& folder) {
  std::lock_guard<std::mutex> lock(GRootMutex);
  GCommonAppDataRoot = folder;
}

std::string GetSpecialFolderPath(int csidl) {
  if (csidl == CSIDL_COMMON_APPDATA) {
    std::string root;
    {
      std::lock_guard<std::mutex> lock(GRootMutex);
      root = GCommonAppDataRoot.empty() ? DefaultCommonAppDataFolder() : GCommonAppDataRoot;
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
    if (!CreateFolderLevel(path.substr(0, pos))) return false;
  }
  return true;
}

}  // namespace dct
