#include "support/uConsole.h"

namespace dct {

TProgressLine::TProgressLine(std::FILE* stream) : TProgressLine(stream, IsTerminal(stream)) {}

void TProgressLine::Show(const std::string& text) {
  if (!FEnabled) return;
  std::string line(1, '\r');
  line += text;
  // Spaces over what a longer previous line left behind.
  if (text.size() < FShown) line.append(FShown - text.size(), ' ');
  std::fputs(line.c_str(), FStream);
  std::fflush(FStream);
  FShown = text.size();
}

void TProgressLine::Clear() {
  if (!FEnabled || FShown == 0) return;
  std::string blank(FShown + 2, ' ');
  blank.front() = blank.back() = '\r';
  std::fputs(blank.c_str(), FStream);
  std::fflush(FStream);
  FShown = 0;
}

}  // namespace dct
