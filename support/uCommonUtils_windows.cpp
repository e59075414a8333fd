// Included before the system headers: shlobj.h defines the CSIDL names as macros.
#include "support/uCommonUtils.h"

#include <shlobj.h>
#include <windows.h>

#include <cerrno>
#include <string>

#include "support/uWideText.h"

namespace dct {

namespace {

// The system's path limit, the size the shell writes a folder path into.
constexpr DWORD kShellPathRoom = MAX_PATH;
// GetModuleFileNameW cuts a path at the buffer's size; the buffer grows up to the longest
// path the system accepts.
constexpr DWORD kMaxModulePath = 32768;
// Names tried for the writability probe before giving up on the folder.
constexpr int kProbeAttempts = 16;

// The shell's folder of that number, created when missing, with a trailing delimiter; empty
// text when the shell reports failure.
std::string ShellFolder(int csidl) {
  wchar_t path[kShellPathRoom + 1] = {};
  if (!SHGetSpecialFolderPathW(nullptr, path, csidl, TRUE)) return {};
  return IncludeTrailingPathDelimiter(WideToUtf8(path));
}

bool IsDelimiter(char c) { return c == '\\' || c == '/'; }

// "\\server" and "\\server\share": the roots of a network path, which no one creates.
bool IsNetworkRoot(const std::string& level) {
  if (level.size() < 3 || !IsDelimiter(level[0]) || !IsDelimiter(level[1])) return false;
  int delimiters = 0;
  for (size_t i = 2; i < level.size(); ++i) delimiters += IsDelimiter(level[i]) ? 1 : 0;
  return delimiters <= 1;
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    default: return EIO;
  }
}

// 1 for a folder, 0 for anything else of that name, -1 when nothing has the name.
int FolderState(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
}

}  // namespace

const char kPathDelimiter[] = "\\";
const char kPathDelimiters[] = "\\/";
const char kNotInFileName[] = "\\/:";

std::string GetModuleFilePath() {
  std::wstring path(MAX_PATH, L'\0');
  while (path.size() <= kMaxModulePath) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return WideToUtf8(path);
    }
    path.resize(path.size() * 2);
  }
  return {};
}

std::string DefaultCommonAppDataFolder() { return ShellFolder(CSIDL_COMMON_APPDATA); }

std::string UserDataFolder() { return ShellFolder(CSIDL_APPDATA); }

bool CreateFolderLevel(const std::string& level) {
  if (IsNetworkRoot(level)) return true;  // a missing share shows at the next level
  const std::wstring wide = Utf8ToWide(level);
  int state = FolderState(wide);
  if (state < 0) {
    if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      errno = ErrnoOf(error);
      return false;
    }
    state = FolderState(wide);  // made meanwhile, by someone else
  }
  if (state == 1) return true;
  errno = ENOTDIR;
  return false;
}

// A folder's access list is the system's to evaluate (groups, inherited and denying
// entries): making a file there, the way the callers will, asks it exactly.
bool FolderWritable(const std::string& folder) {
  const std::wstring base = Utf8ToWide(IncludeTrailingPathDelimiter(folder)) + L".dct_write_probe_" +
                            std::to_wstring(GetCurrentProcessId()) + L"_" +
                            std::to_wstring(GetCurrentThreadId()) + L"_";
  for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
    const std::wstring probe = base + std::to_wstring(attempt);
    const HANDLE file =
        CreateFileW(probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

}  // namespace dct
