#include "host/EventLog.h"

#include <cstdlib>

namespace dct {

namespace {

// syslog priorities of the entry types.
constexpr int kPriorityInformation = 6;
constexpr int kPriorityWarning = 4;
constexpr int kPriorityError = 3;

int Priority(TEventType type) {
  switch (type) {
    case TEventType::Error: return kPriorityError;
    case TEventType::Warning: return kPriorityWarning;
    case TEventType::Information: break;
  }
  return kPriorityInformation;
}

const char* TypeName(TEventType type) {
  switch (type) {
    case TEventType::Error: return "error";
    case TEventType::Warning: return "warning";
    case TEventType::Information: break;
  }
  return "information";
}

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

}  // namespace

bool StartedBySystemd() { return EnvironmentSet("JOURNAL_STREAM") || EnvironmentSet("NOTIFY_SOCKET"); }

std::vector<std::string> JournalFields(const TEventEntry& Entry, const std::string& Source) {
  return {
      "MESSAGE=" + Entry.Text,
      "PRIORITY=" + std::to_string(Priority(Entry.Type)),
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
  return std::string(kEventSource) + ": " + TypeName(Entry.Type) + ", event " +
         std::to_string(Entry.EventId) + ": " + text + "\n";
}

void TEventLog::Write(const TEventEntry& Entry) {
  const bool logged = FUseSystemLog && WriteToSystemLog(kEventSource, Entry);
  if (!logged || FEcho) WriteToStandardError(ConsoleLine(Entry));
}

}  // namespace dct
