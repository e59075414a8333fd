#include "host/EventLog.h"

#include <windows.h>

#include "support/uWideText.h"

namespace dct {

bool WriteToSystemLog(const std::string& Source, const TEventEntry& Entry) {
  HANDLE source = RegisterEventSourceW(nullptr, Utf8ToWide(Source).c_str());
  if (source == nullptr) return false;
  const std::wstring text = Utf8ToWide(Entry.Text);
  LPCWSTR strings[] = {text.c_str()};
  const WORD type = Entry.Type == TEventType::Error     ? EVENTLOG_ERROR_TYPE
                    : Entry.Type == TEventType::Warning ? EVENTLOG_WARNING_TYPE
                                                        : EVENTLOG_INFORMATION_TYPE;
  const BOOL reported = ReportEventW(source, type, static_cast<WORD>(Entry.Category),
                                     static_cast<DWORD>(Entry.EventId), nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(source);
  return reported != FALSE;
}

// A console shows UTF-16 whatever its code page; a file or a pipe gets the UTF-8 bytes.
bool WriteToStandardError(const std::string& Text) {
  HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    const std::wstring wide = Utf8ToWide(Text);
    DWORD written = 0;
    return WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) != FALSE &&
           written == wide.size();
  }
  size_t done = 0;
  while (done < Text.size()) {
    DWORD written = 0;
    if (!WriteFile(out, Text.data() + done, static_cast<DWORD>(Text.size() - done), &written, nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace dct
