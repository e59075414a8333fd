#include "host/EventLog.h"

#include <cstdlib>

namespace dct {

namespace {

// syslog priorities of the two entry types.
constexpr int kPriorityInformation = 6;
constexpr int kPriorityError = 3;

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

}  // namespace

bool StartedBySystemd() { return EnvironmentSet("JOURNAL_STREAM") || EnvironmentSet("NOTIFY_SOCKET"); }

std::vector<std::string> JournalFields(const TEventEntry& Entry, const std::string& Source) {
  const int priority = Entry.Type == TEventType::Error ? kPriorityError : kPriorityInformation;
  return {
      "MESSAGE=" + Entry.Text,
      "PRIORITY=" + std::to_string(priority),
      "SYSLOG_IDENTIFIER=" + Source,
      "EVENT_ID=" + std::to_string(Entry.EventId),
      "EVENT_CATEGORY=" + std::to_string(Entry.Category),
  };
}

std::string ConsoleLine(const TEventEntry& Entry) {
  std::string text = Entry.Text;
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  const char* type = Entry.Type == TEventType::Error ? "error" : "information";
  return std::string(kEventSource) + ": " + type + ", event " + std::to_string(Entry.EventId) + ": " + text +
         "\n";
}

void TEventLog::Write(const TEventEntry& Entry) {
  const bool logged = FUseSystemLog && WriteToSystemLog(kEventSource, Entry);
  if (!logged || FEcho) WriteToStandardError(ConsoleLine(Entry));
}

}  // namespace dct
