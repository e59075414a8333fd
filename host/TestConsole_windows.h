// Tests only: a console of the test process's own, so that a Ctrl+C it raises reaches this
// process alone (not the one that started the tests), with the standard handles left as they
// were. Made once per process (TestConsole()): giving up a console it made can end the run.
#pragma once

#include <windows.h>

namespace dct::testing {

class TTestConsole {
 public:
  TTestConsole() {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    FreeConsole();
    FReady = AllocConsole() != FALSE;
    FError = FReady ? 0 : GetLastError();
    SetStdHandle(STD_INPUT_HANDLE, in);
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    SetStdHandle(STD_ERROR_HANDLE, err);
    SetConsoleCtrlHandler(nullptr, FALSE);  // a process may inherit Ctrl+C as ignored
  }
  bool Ready() const { return FReady; }
  DWORD Error() const { return FError; }
  bool RaiseCtrlC() const { return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE; }

 private:
  bool FReady = false;
  DWORD FError = 0;
};

inline const TTestConsole& TestConsole() {
  static const TTestConsole console;
  return console;
}

}  // namespace dct::testing
