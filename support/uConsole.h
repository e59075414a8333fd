// The console: whether a stream is a terminal, and a progress line that only a terminal sees.
#pragma once

#include <cstdio>
#include <string>

namespace dct {

// A line of progress on a terminal, rewritten in place with "\r". Given a stream that is not
// a terminal (a file, a pipe) it writes nothing at all, so logs and captured output keep only
// the real messages.
class TProgressLine {
 public:
  TProgressLine(std::FILE* stream, bool enabled) : FStream(stream), FEnabled(enabled) {}
  explicit TProgressLine(std::FILE* stream);  // enabled when stream is a terminal
  ~TProgressLine() { Clear(); }
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;

  void Show(const std::string& text);
  // Blanks the line, so that a message written next starts on a clean one.
  void Clear();

 private:
  std::FILE* FStream;
  bool FEnabled;
  size_t FShown = 0;  // bytes of the line on screen
};

// ---------------------------------------------------------------------------------------
// Platform calls (uConsole_posix.cpp, uConsole_windows.cpp).

// True when stream writes to a terminal or console window.
bool IsTerminal(std::FILE* stream);
// Writes UTF-8 text to stream and flushes it. A Windows console gets the text as UTF-16
// (WriteConsoleW), so that it reads right whatever the console's code page (866 on a
// Russian system); a file, a pipe and every POSIX stream get the UTF-8 bytes. Returns
// whether all of it was written.
bool WriteText(std::FILE* stream, const std::string& text);

}  // namespace dct
