#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <algorithm>

#include "support/uConsole.h"
#include "support/uWideText.h"

namespace dct {

namespace {

// WriteConsoleW takes at most this many characters in one call on older systems.
constexpr size_t kConsoleChunkChars = 8192;

HANDLE StreamHandle(std::FILE* stream) {
  const intptr_t osHandle = _get_osfhandle(_fileno(stream));
  return osHandle == -1 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(osHandle);
}

}  // namespace

// A console handle is a character device whose console mode can be read; NUL and serial
// ports are character devices too, but have no console mode.
bool IsTerminal(std::FILE* stream) {
  const HANDLE handle = StreamHandle(stream);
  if (handle == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  return GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode) != 0;
}

bool WriteText(std::FILE* stream, const std::string& text) {
  if (!IsTerminal(stream)) {
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    return std::fflush(stream) == 0 && written;
  }
  std::fflush(stream);  // what the runtime still holds goes first
  const HANDLE console = StreamHandle(stream);
  const std::wstring wide = Utf8ToWide(text);
  for (size_t done = 0; done < wide.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min(kConsoleChunkChars, wide.size() - done));
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

}  // namespace dct
