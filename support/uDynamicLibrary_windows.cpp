#include "support/uDynamicLibrary.h"

#include <windows.h>

#include "support/uWideText.h"

namespace dct {

namespace {

// GetModuleFileNameW cuts a path at the buffer's size; the buffer grows up to the longest
// path the system accepts.
constexpr DWORD kMaxModulePath = 32768;

}  // namespace

// Windows resolves a library's imports at load and keeps its exports to GetProcAddress, so
// no flags are needed for the POSIX loader's "now" and "local".
TDynamicLibrary OpenDynamicLibrary(const std::string& Path) {
  return reinterpret_cast<TDynamicLibrary>(LoadLibraryW(Utf8ToWide(Path).c_str()));
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
