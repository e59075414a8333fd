// The event log of the service, source "dct_korvelmobile".
//
// Started by systemd ($JOURNAL_STREAM or $NOTIFY_SOCKET set), entries go to the journal:
//   MESSAGE=<text>  PRIORITY=6 (information) or 3 (error)  SYSLOG_IDENTIFIER=dct_korvelmobile
//   EVENT_ID=<id>  EVENT_CATEGORY=<category>
// Otherwise, and whenever the journal refuses an entry, one line per entry goes to standard
// error, so that whoever started the program sees it:
//   dct_korvelmobile: information, event 1: <text>
// The text is kept exactly, except that line breaks become spaces (one entry, one line).
#pragma once

#include <string>
#include <vector>

namespace dct {

constexpr char kEventSource[] = "dct_korvelmobile";

enum class TEventType { Information, Error };

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
  explicit TEventLog(bool UseJournal) : FUseJournal(UseJournal) {}
  void Write(const TEventEntry& Entry) override;

 private:
  bool FUseJournal;
};

// Whether systemd started this process (what decides the journal).
bool StartedBySystemd();
// The journal fields of an entry, "NAME=value" each.
std::vector<std::string> JournalFields(const TEventEntry& Entry);
// The standard-error form of an entry, with its line end.
std::string ConsoleLine(const TEventEntry& Entry);

// ---------------------------------------------------------------------------------------
// Platform calls (EventLog_posix.cpp). Each returns whether the entry was taken.
bool SendToJournal(const std::vector<std::string>& Fields);
bool WriteToStandardError(const std::string& Text);

}  // namespace dct
