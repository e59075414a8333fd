#include "support/BaseLog.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace dct {

namespace {

// Room for "/memfd:" + a name + " (deleted)"; memfd names are at most 249 bytes.
constexpr size_t kFdLinkMax = 512;
// gethostname room: the system's own limit is 64; 261 as the name's own limit.
constexpr size_t kComputerNameRoom = 261;

}  // namespace

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

// A memfd: named at creation, private to the process, gone with its last descriptor.
int CreateProcessObject(const std::string& Name) { return memfd_create(Name.c_str(), MFD_CLOEXEC); }

// The descriptor table is the one registry of names that every module shares: a memfd's
// link in /proc/self/fd reads "/memfd:<name> (deleted)".
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

void CloseProcessObject(int Fd) {
  if (Fd >= 0) close(Fd);
}

bool WriteProcessObject(int Fd, const void* Data, size_t Size) {
  return pwrite(Fd, Data, Size, 0) == static_cast<ssize_t>(Size);
}

bool ReadProcessObject(int Fd, void* Data, size_t Size) {
  return pread(Fd, Data, Size, 0) == static_cast<ssize_t>(Size);
}

}  // namespace dct
