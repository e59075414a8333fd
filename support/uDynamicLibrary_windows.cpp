#include "support/uDynamicLibrary.h"

#include <windows.h>

#include "support/uWideText.h"

namespace dct {

namespace {

// GetModuleFileNameW cuts a path at the buffer's size; the buffer grows up to the longest
// path the system accepts.
constexpr DWORD kMaxModulePath = 32768;

// The system's text of a loader error, UTF-16 from FormatMessageW converted once, without
// its line end ("%1 is not a valid Win32 application." keeps its "%1": no insert is filled).
std::string LoaderErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.pop_back();
  if (text.empty()) return "system error " + std::to_string(code);
  return WideToUtf8(text);
}

}  // namespace

// Windows resolves a library's imports at load and keeps its exports to GetProcAddress, so
// no flags are needed for the POSIX loader's "now" and "local".
TDynamicLibrary OpenDynamicLibrary(const std::string& Path, std::string* Error) {
  const HMODULE library = LoadLibraryW(Utf8ToWide(Path).c_str());
  if (library == nullptr && Error != nullptr) *Error = LoaderErrorText(GetLastError());
  return reinterpret_cast<TDynamicLibrary>(library);
}

bool DynamicLibraryFileExists(const std::string& Path) {
  const DWORD attributes = GetFileAttributesW(Utf8ToWide(Path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Through void (*)(): the one function type a cast to any other is not warned about.
void* FindDynamicSymbol(TDynamicLibrary Library, const char* Name) {
  const FARPROC address = GetProcAddress(static_cast<HMODULE>(Library), Name);
  return reinterpret_cast<void*>(reinterpret_cast<void (*)()>(address));
}

void CloseDynamicLibrary(TDynamicLibrary Library) { FreeLibrary(static_cast<HMODULE>(Library)); }

// The loader names every module, the program's own file too.
std::string DynamicModulePath(const void* Address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(Address), &module)) {
    return std::string();
  }
  std::wstring path(MAX_PATH, L'\0');
  while (path.size() <= kMaxModulePath) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      return WideToUtf8(path);
    }
    path.resize(path.size() * 2);
  }
  return std::string();
}

}  // namespace dct
