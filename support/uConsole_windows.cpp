#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "support/uConsole.h"

namespace dct {

// A console handle is a character device whose console mode can be read; NUL and serial
// ports are character devices too, but have no console mode.
bool IsTerminal(std::FILE* stream) {
  const intptr_t osHandle = _get_osfhandle(_fileno(stream));
  if (osHandle == -1) return false;
  HANDLE handle = reinterpret_cast<HANDLE>(osHandle);
  DWORD mode = 0;
  return GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace dct
