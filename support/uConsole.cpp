#include "support/uConsole.h"

namespace dct {

TProgressLine::TProgressLine(std::FILE* stream) : TProgressLine(stream, IsTerminal(stream)) {}

void TProgressLine::Show(const std::string& text) {
  if (!FEnabled) return;
  std::string line = "\r" + text;
  // Spaces over what a longer previous line left behind.
  if (text.size() < FShown) line.append(FShown - text.size(), ' ');
  std::fputs(line.c_str(), FStream);
  std::fflush(FStream);
  FShown = text.size();
}

void TProgressLine::Clear() {
  if (!FEnabled || FShown == 0) return;
  std::fputs(("\r" + std::string(FShown, ' ') + "\r").c_str(), FStream);
  std::fflush(FStream);
  FShown = 0;
}

}  // namespace dct
