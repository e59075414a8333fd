#include "support/uCommonUtils.h"

#include <cerrno>
#include <mutex>
#include <string_view>

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

}  // namespace

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (path.empty()) return path;
  size_t end = path.find_last_not_of(kPathDelimiters);
  if (end == std::string::npos) return kPathDelimiter;
  return path.substr(0, end + 1) + kPathDelimiter;
}

std::string ExtractFilePath(const std::string& path) {
  size_t slash = path.find_last_of(kPathDelimiters);
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
  for (size_t pos = path.find_first_of(kPathDelimiters, 1); pos != std::string::npos;
       pos = path.find_first_of(kPathDelimiters, pos + 1)) {
    if (std::string_view(kPathDelimiters).find(path[pos - 1]) != std::string_view::npos) {
      continue;  // "//" inside the path
    }
    if (!CreateFolderLevel(path.substr(0, pos))) return false;
  }
  return true;
}

}  // namespace dct
