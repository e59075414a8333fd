#include "support/BaseLog.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "support/BaseSecurity.h"
#include "support/uCommonUtils.h"

namespace dct {

namespace {

// The slot's content: whose slot it is, then the owner's name buffer.
struct TSlotRecord {
  uint32_t Pid;
  char Name[kLogNameBufferSize];
};

// The kernel's "no audit session" value (AUDIT_SID_UNSET).
constexpr unsigned long long kAuditSessionUnset = 4294967295ULL;
// Room for "/memfd:" + a name + " (deleted)"; memfd names are at most 249 bytes.
constexpr size_t kFdLinkMax = 512;
// gethostname room: the system's own limit is 64; 261 as the name's own limit.
constexpr size_t kComputerNameRoom = 261;

// An address inside the module that carries this copy of the unit. Internal linkage keeps
// another module's copy from standing in for it.
void ModuleAnchor() {}

// Full path of the module that holds ModuleAnchor: the main program's own file, or the
// shared library's path as the loader opened it.
std::string ThisModulePath() {
  Dl_info info{};
  struct link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&ModuleAnchor), &info, reinterpret_cast<void**>(&map),
              RTLD_DL_LINKMAP) != 0 &&
      map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
    return map->l_name;
  }
  return GetModuleFilePath();  // the main program's link map has no name
}

// Calls fn with every descriptor of this process that is a memfd named Name, lowest first,
// until fn returns true. Returns that descriptor, or -1.
int ScanProcessObjects(const std::string& Name, const std::function<bool(int)>& fn) {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  const std::string wanted = "/memfd:" + Name + " (deleted)";
  const int own = dirfd(dir);
  std::vector<int> matches;
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
  for (int fd : matches) {
    if (fn(fd)) return fd;
  }
  return -1;
}

// The slot that this process's host published, read into Record.
bool ReadPublishedSlot(TSlotRecord& Record) {
  const uint32_t pid = static_cast<uint32_t>(getpid());
  return ScanProcessObjects(kPublicationSlotName, [&](int fd) {
           TSlotRecord candidate{};
           if (pread(fd, &candidate, sizeof(candidate), 0) != static_cast<ssize_t>(sizeof(candidate))) {
             return false;
           }
           if (candidate.Pid != pid) return false;  // a forked parent's slot
           Record = candidate;
           return true;
         }) >= 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Process-wide named objects.

int CreateProcessObject(const std::string& Name) { return memfd_create(Name.c_str(), MFD_CLOEXEC); }

int FindProcessObject(const std::string& Name) {
  return ScanProcessObjects(Name, [](int) { return true; });
}

void CloseProcessObject(int Fd) {
  if (Fd >= 0) close(Fd);
}

// ---------------------------------------------------------------------------------------
// Name pieces.

std::string HostMarkerName(uint32_t Pid) {
  char digits[16];
  std::snprintf(digits, sizeof(digits), "%06X", static_cast<unsigned>(Pid));
  return std::string(kHostMarkerPrefix) + digits;
}

std::string BuildLogName(const std::string& Prefix, const std::string& ExtraNamePart,
                         const std::string& ComputerName, int Session) {
  std::string name = Prefix + ExtraNamePart + "_" + ComputerName + "_" + std::to_string(Session) + ".log";
  if (name.size() <= kLogNameMaxBytes) return name;
  size_t cut = kLogNameMaxBytes;
  // Never leave half a character behind: step back over UTF-8 continuation bytes.
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  name.resize(cut);
  return name;
}

int ParseLogSessionId(const std::string& Text) {
  size_t i = 0;
  unsigned long long value = 0;
  while (i < Text.size() && Text[i] >= '0' && Text[i] <= '9') {
    value = value * 10 + static_cast<unsigned>(Text[i] - '0');
    if (value > kAuditSessionUnset) return kUnknownLogSession;
    ++i;
  }
  if (i == 0) return kUnknownLogSession;
  while (i < Text.size() && (Text[i] == '\n' || Text[i] == ' ')) ++i;
  if (i != Text.size()) return kUnknownLogSession;
  if (value == kAuditSessionUnset) return 0;
  if (value > static_cast<unsigned long long>(std::numeric_limits<int>::max())) {
    return kUnknownLogSession;
  }
  return static_cast<int>(value);
}

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

std::string DropFileExtension(const std::string& Path) {
  const size_t slash = Path.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = Path.rfind('.');
  if (dot == std::string::npos || dot <= start) return Path;
  return Path.substr(0, dot);
}

std::string ModuleBaseName(const std::string& Path) {
  const std::string stem = DropFileExtension(Path);
  const size_t slash = stem.rfind('/');
  return slash == std::string::npos ? stem : stem.substr(slash + 1);
}

std::string GetLogFolder() {
  const std::string base = GetSpecialFolderPath(CSIDL_COMMON_APPDATA);
  // No data folder at all: "" + kLogFolderName would be a folder below the working folder.
  if (base.empty()) return std::string();
  const std::string folder = base + kLogFolderName;
  ForceDirectories(folder);  // a folder that cannot be made shows up when a file is opened
  try {
    GrantFolderAccess(folder);
  } catch (...) {
    // The folder is used with whatever access it has.
  }
  return folder;
}

// ---------------------------------------------------------------------------------------
// Unit start and end.

TBaseLog::TBaseLog(const std::string& ExtraNamePart) {
  const std::string marker = HostMarkerName(static_cast<uint32_t>(getpid()));
  // Not host when a marker exists, or when none can be made.
  if (FindProcessObject(marker) < 0) FHostMarker = CreateProcessObject(marker);

  if (IsHost()) {
    const std::string folder = GetLogFolder();
    // Without a folder there is no log file: the name stays empty, for every module.
    if (!folder.empty()) {
      const std::string prefix = folder + ModuleBaseName(ThisModulePath());
      FillName(BuildLogName(prefix, ExtraNamePart, GetLogComputerName(), GetLogSessionId()));
    }
    PublishName();
    return;
  }
  TSlotRecord record{};
  if (ReadPublishedSlot(record)) {
    record.Name[kLogNameBufferSize - 1] = '\0';
    FillName(record.Name);
    return;
  }
  // A marker without a slot: the name sits beside the program.
  FillName(BuildLogName(DropFileExtension(GetModuleFilePath()), ExtraNamePart, GetLogComputerName(),
                        GetLogSessionId()));
}

TBaseLog::~TBaseLog() {
  CloseProcessObject(FPublicationSlot);
  CloseProcessObject(FHostMarker);
  FPublicationSlot = -1;
  FHostMarker = -1;
}

void TBaseLog::FillName(const std::string& Text) {
  FLogFileName.fill('\0');
  std::memcpy(FLogFileName.data(), Text.data(), std::min(Text.size(), kLogNameMaxBytes));
}

// A slot that cannot be published leaves the host without one: later modules then name
// their file beside the program, and the process goes on (it writes no log anyway).
void TBaseLog::PublishName() {
  const int fd = CreateProcessObject(kPublicationSlotName);
  if (fd < 0) return;
  TSlotRecord record{};
  record.Pid = static_cast<uint32_t>(getpid());
  std::memcpy(record.Name, FLogFileName.data(), kLogNameBufferSize);
  if (pwrite(fd, &record, sizeof(record), 0) != static_cast<ssize_t>(sizeof(record))) {
    close(fd);
    return;
  }
  FPublicationSlot = fd;
}

}  // namespace dct
