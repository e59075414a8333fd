#include "support/BaseLog.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace dct {

namespace {

// Room for "/memfd:" + a name + " (deleted)"; memfd names are at most 249 bytes.
constexpr size_t kFdLinkMax = 512;
// gethostname room: the system's own limit is 64; 261 as the name's own limit.
constexpr size_t kComputerNameRoom = 261;

// The slot's content: whose slot it is, then the owner's name buffer.
struct TSlotRecord {
  uint32_t Pid;
  char Name[kLogNameBufferSize];
};

}  // namespace

// The other modules of a process read the name in the locale's encoding, UTF-8 here.
std::string LogNameBufferText(const std::string& Name) { return CutLogName(Name); }

int GetLogSessionId() {
  const int fd = open("/proc/self/sessionid", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kUnknownLogSession;
  char text[32];
  const ssize_t n = read(fd, text, sizeof(text));
  close(fd);
  if (n <= 0) return kUnknownLogSession;
  return ParseLogSessionId(std::string(text, static_cast<size_t>(n)));
}

std::string GetLogComputerName() {
  char name[kComputerNameRoom + 1] = {};
  if (gethostname(name, kComputerNameRoom) != 0) return std::string();
  return std::string(name, strnlen(name, kComputerNameRoom));
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

namespace {

// A memfd: named at creation, private to the process, gone with its last descriptor.
int CreateProcessObject(const std::string& Name) { return memfd_create(Name.c_str(), MFD_CLOEXEC); }

// Every descriptor of this process that is an object of that name, lowest first. The
// descriptor table is the one registry of names that every module shares: a memfd's link
// in /proc/self/fd reads "/memfd:<name> (deleted)".
std::vector<int> FindProcessObjects(const std::string& Name) {
  std::vector<int> matches;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return matches;
  const std::string wanted = "/memfd:" + Name + " (deleted)";
  const int own = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == own || fd < 0 || fd > INT_MAX) continue;
    char link[kFdLinkMax];
    const ssize_t n = readlinkat(own, entry->d_name, link, sizeof(link));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof(link)) continue;
    if (wanted.compare(0, std::string::npos, link, static_cast<size_t>(n)) == 0) {
      matches.push_back(static_cast<int>(fd));
    }
  }
  closedir(dir);
  std::sort(matches.begin(), matches.end());
  return matches;
}

}  // namespace

TProcessObject CreateHostMarker(const std::string& Name) {
  if (!FindProcessObjects(Name).empty()) return kNoProcessObject;
  const int fd = CreateProcessObject(Name);
  return fd < 0 ? kNoProcessObject : fd;
}

bool HostMarkerExists(const std::string& Name) { return !FindProcessObjects(Name).empty(); }

void CloseHostMarker(TProcessObject Marker) { close(static_cast<int>(Marker)); }

TProcessObject PublishLogName(const char* Buffer) {
  const int fd = CreateProcessObject(kPublicationSlotName);
  if (fd < 0) return kNoProcessObject;
  TSlotRecord record{};
  record.Pid = CurrentProcessId();
  std::memcpy(record.Name, Buffer, kLogNameBufferSize);
  if (pwrite(fd, &record, sizeof(record), 0) != static_cast<ssize_t>(sizeof(record))) {
    close(fd);
    return kNoProcessObject;
  }
  return fd;
}

bool ReadPublishedLogName(char* Buffer) {
  const uint32_t pid = CurrentProcessId();
  for (int fd : FindProcessObjects(kPublicationSlotName)) {
    TSlotRecord candidate{};
    if (pread(fd, &candidate, sizeof(candidate), 0) != static_cast<ssize_t>(sizeof(candidate))) continue;
    if (candidate.Pid != pid) continue;  // a forked parent's slot
    std::memcpy(Buffer, candidate.Name, kLogNameBufferSize);
    return true;
  }
  return false;
}

void WithdrawLogName(TProcessObject Slot) { close(static_cast<int>(Slot)); }

}  // namespace dct
