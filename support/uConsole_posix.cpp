#include <stdio.h>
#include <unistd.h>

#include "support/uConsole.h"

namespace dct {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

// A terminal here reads the bytes in the locale's encoding, UTF-8 on every system we serve.
bool WriteText(std::FILE* stream, const std::string& text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  return std::fflush(stream) == 0 && written;
}

}  // namespace dct
