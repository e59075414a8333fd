// The event log of the service, source "dct_korvelmobile".
//
// The system's log takes the entries when the host asks for it:
//   POSIX, started by systemd ($JOURNAL_STREAM or $NOTIFY_SOCKET set): the journal,
//     MESSAGE=<text>  PRIORITY=6 (information), 4 (warning) or 3 (error)
//     SYSLOG_IDENTIFIER=<source>
//     EVENT_ID=<id>  EVENT_CATEGORY=<category>
//   Windows: the Application event log, one insertion string, the entry's type, category
//     and identifier (the program carries no message table).
// Otherwise, whenever the system's log refuses an entry, and for every entry when echoing
// (--console on Windows), one line per entry goes to standard error as UTF-8, so that
// whoever started the program sees it:
//   dct_korvelmobile: information, event 1: <text>
// The text is kept exactly, except that line breaks become spaces (one entry, one line).
#pragma once

#include <string>
#include <vector>

namespace dct {

constexpr char kEventSource[] = "dct_korvelmobile";

// A warning: the service runs, but something needs the operator (a full disk).
enum class TEventType { Information, Warning, Error };

struct TEventEntry {
  TEventType Type = TEventType::Information;
  int Category = 0;
  int EventId = 0;
  std::string Text;
};

// Where the entries of one program run go.
class IEventSink {
 public:
  virtual ~IEventSink() = default;
  virtual void Write(const TEventEntry& Entry) = 0;
};

class TEventLog : public IEventSink {
 public:
  explicit TEventLog(bool UseSystemLog, bool Echo = false) : FUseSystemLog(UseSystemLog), FEcho(Echo) {}
  void Write(const TEventEntry& Entry) override;

 private:
  bool FUseSystemLog;
  bool FEcho;
};

// Whether systemd started this process (what decides the journal).
bool StartedBySystemd();
// The journal fields of an entry, "NAME=value" each.
std::vector<std::string> JournalFields(const TEventEntry& Entry, const std::string& Source = kEventSource);
// The standard-error form of an entry, with its line end.
std::string ConsoleLine(const TEventEntry& Entry);

// ---------------------------------------------------------------------------------------
// Platform calls (EventLog_posix.cpp, EventLog_windows.cpp). Each returns whether the entry
// was taken.

// The system's log under the source Source (a program's file name, when the service
// manager cannot be reached on Windows).
bool WriteToSystemLog(const std::string& Source, const TEventEntry& Entry);
// Text as UTF-8 bytes, in one write; a Windows console gets it as UTF-16, whatever its code page.
bool WriteToStandardError(const std::string& Text);

}  // namespace dct
