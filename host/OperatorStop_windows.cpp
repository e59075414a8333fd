#include <windows.h>

#include <mutex>
#include <utility>

#include "host/OperatorStop.h"
#include "support/uWideText.h"

namespace dct {

namespace {

// The control handler runs on a thread of its own, so a lock suffices.
std::mutex GLock;
std::wstring GRemoved[TRemoveOnStop::kMaxRemovedOnStop];

BOOL WINAPI OnConsoleControl(DWORD control) {
  switch (control) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: {
      std::lock_guard<std::mutex> guard(GLock);
      for (const std::wstring& path : GRemoved)
        if (!path.empty()) DeleteFileW(path.c_str());
      ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    default: return FALSE;
  }
}

}  // namespace

void EndAtOnceOnStop() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

TRemoveOnStop::TRemoveOnStop(std::string Path) : FPath(std::move(Path)) {
  std::lock_guard<std::mutex> guard(GLock);
  for (int i = 0; i < kMaxRemovedOnStop; ++i) {
    if (GRemoved[i].empty()) {
      GRemoved[i] = Utf8ToWide(FPath);
      FSlot = i;
      return;
    }
  }
}

TRemoveOnStop::~TRemoveOnStop() {
  if (FSlot < 0) return;
  std::lock_guard<std::mutex> guard(GLock);
  GRemoved[FSlot].clear();
}

}  // namespace dct
