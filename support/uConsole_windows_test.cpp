#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/uConsole.h"

namespace dct {
namespace {

// The console's screen behind a FILE*, as a command prompt's window is behind stdout: what
// reaches it is read back as the characters the window would show. Under wine a console
// exists only when the tests run on a terminal (scripts/test-windows runs this one so).
class TConsoleBuffer {
 public:
  TConsoleBuffer() {
    FBuffer = OpenScreen();
    if (FBuffer == INVALID_HANDLE_VALUE) {
      // No console (started from a pipe): one of the test's own, as a command prompt gives one.
      FreeConsole();
      if (AllocConsole()) FBuffer = OpenScreen();
    }
    if (FBuffer == INVALID_HANDLE_VALUE) {
      FError = GetLastError();
      return;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(FBuffer), _O_WRONLY | _O_BINARY);
    if (fd != -1) FStream = _fdopen(fd, "wb");
    // Written from the top left corner, where TopLine reads.
    SetConsoleCursorPosition(FBuffer, COORD{0, 0});
    DWORD cleared = 0;
    FillConsoleOutputCharacterW(FBuffer, L' ', 200, COORD{0, 0}, &cleared);
  }
  ~TConsoleBuffer() {
    if (FStream != nullptr) {
      std::fclose(FStream);  // closes the buffer's handle too
    } else if (FBuffer != INVALID_HANDLE_VALUE) {
      CloseHandle(FBuffer);
    }
  }
  TConsoleBuffer(const TConsoleBuffer&) = delete;
  TConsoleBuffer& operator=(const TConsoleBuffer&) = delete;

  static HANDLE OpenScreen() {
    HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    if (screen != INVALID_HANDLE_VALUE && !GetConsoleMode(screen, &mode)) {
      CloseHandle(screen);  // wine gives a console without a terminal behind it no screen
      screen = INVALID_HANDLE_VALUE;
    }
    return screen;
  }
  std::FILE* Stream() const { return FStream; }
  DWORD Error() const { return FError; }
  // The first Count characters of the top line.
  std::wstring TopLine(size_t Count) const {
    std::wstring shown(Count, L'\0');
    DWORD read = 0;
    if (!ReadConsoleOutputCharacterW(FBuffer, shown.data(), static_cast<DWORD>(Count), COORD{0, 0}, &read))
      return L"(unreadable)";
    shown.resize(read);
    return shown;
  }

 private:
  HANDLE FBuffer = INVALID_HANDLE_VALUE;
  std::FILE* FStream = nullptr;
  DWORD FError = 0;
};

// The console of a Russian system shows bytes in code page 866, so UTF-8 bytes written to it
// would come out as other letters; text that reaches it as UTF-16 reads right.
TEST(ConsoleTextWindows, AConsoleShowsTheTextWhateverItsCodePage) {
  TConsoleBuffer console;
  if (console.Stream() == nullptr)
    GTEST_SKIP() << "no console screen buffer here (error " << console.Error() << ")";
  const UINT codePage = GetConsoleOutputCP();
  SetConsoleOutputCP(866);
  EXPECT_TRUE(IsTerminal(console.Stream()));
  const std::wstring expected = L"Служба \"Korvel mobile DCT service\" уже существует";
  EXPECT_TRUE(WriteText(console.Stream(), "Служба \"Korvel mobile DCT service\" уже существует\n"));
  SetConsoleOutputCP(codePage);
  EXPECT_EQ(console.TopLine(expected.size()), expected);
}

}  // namespace
}  // namespace dct
