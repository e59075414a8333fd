#include <windows.h>

#include <stdexcept>

#include "support/uPrivateFile.h"
#include "support/uWideText.h"

namespace dct {

namespace {

std::runtime_error Failure(const std::string& what, const std::string& path) {
  return std::runtime_error("cannot " + what + " \"" + path + "\": error " + std::to_string(GetLastError()));
}

// Closes the handle on every path out.
class THandle {
 public:
  explicit THandle(HANDLE handle) : FHandle(handle) {}
  ~THandle() {
    if (Valid()) CloseHandle(FHandle);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  bool Valid() const { return FHandle != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return FHandle; }
  bool Close() {
    const BOOL closed = CloseHandle(FHandle);
    FHandle = INVALID_HANDLE_VALUE;
    return closed != FALSE;
  }

 private:
  HANDLE FHandle;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

bool RegularFileIdentity(const std::string& Path, TFileIdentity& Identity, std::string& Error) {
  // The reparse point itself is opened, not what it points to.
  THandle file(CreateFileW(Utf8ToWide(Path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.Valid() || !GetFileInformationByHandle(file.Get(), &info)) {
    Error = "error " + std::to_string(GetLastError());
    return false;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    Error = "it is a symbolic link or junction";
    return false;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    Error = "it is not a regular file";
    return false;
  }
  Identity = TFileIdentity{info.dwVolumeSerialNumber,
                           (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return true;
}

void CreatePrivateFile(const std::string& Path, std::string_view Text) {
  const std::wstring name = Utf8ToWide(Path);
  // CREATE_NEW fails on any name that exists, a link included; the security descriptor is the
  // folder's inherited one.
  THandle file(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.Valid()) throw Failure("create", Path);
  // What this call created goes again when a later step fails: no half file is left.
  auto fail = [&](const char* what) {
    std::runtime_error failure = Failure(what, Path);
    if (file.Valid()) file.Close();
    DeleteFileW(name.c_str());
    return failure;
  };
  while (!Text.empty()) {
    const DWORD chunk = Text.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(Text.size());
    DWORD written = 0;
    if (!WriteFile(file.Get(), Text.data(), chunk, &written, nullptr) || written == 0) throw fail("write");
    Text.remove_prefix(written);
  }
  if (!FlushFileBuffers(file.Get())) throw fail("sync");
  if (!file.Close()) throw fail("close");
}

void SyncFile(const std::string& Path) {
  THandle file(CreateFileW(Utf8ToWide(Path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.Valid()) throw Failure("open", Path);
  if (!FlushFileBuffers(file.Get())) throw Failure("sync", Path);
}

bool SyncFolder(const std::string&) { return true; }

}  // namespace dct
