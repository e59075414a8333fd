#include "host/EventLog.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>

namespace dct {

namespace {

// sd_journal_sendv reports success when no journal runs at all, so the socket is looked
// for first.
bool SendToJournal(const std::vector<std::string>& Fields) {
  struct stat st {};
  if (stat("/run/systemd/journal/socket", &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
  std::vector<iovec> parts;
  parts.reserve(Fields.size());
  for (const std::string& field : Fields) {
    parts.push_back(iovec{const_cast<char*>(field.data()), field.size()});
  }
  return sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) == 0;
}

}  // namespace

bool WriteToSystemLog(const std::string& Source, const TEventEntry& Entry) {
  return SendToJournal(JournalFields(Entry, Source));
}

// One write per entry keeps lines of different threads apart.
bool WriteToStandardError(const std::string& Text) {
  size_t done = 0;
  while (done < Text.size()) {
    const ssize_t n = write(STDERR_FILENO, Text.data() + done, Text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace dct
