#include "support/BaseLog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "support/BaseSecurity.h"
#include "support/uCommonUtils.h"
#include "support/uDynamicLibrary.h"

namespace dct {

namespace {

// The kernel's "no audit session" value (AUDIT_SID_UNSET).
constexpr unsigned long long kAuditSessionUnset = 4294967295ULL;

// An address inside the module that carries this copy of the unit. Internal linkage keeps
// another module's copy from standing in for it.
void ModuleAnchor() {}

// Full path of the module that holds ModuleAnchor: the main program's own file, or the
// shared library's path as the loader opened it.
std::string ThisModulePath() {
  const std::string path = DynamicModulePath(reinterpret_cast<const void*>(&ModuleAnchor));
  return path.empty() ? GetModuleFilePath() : path;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Name pieces.

std::string HostMarkerName(uint32_t Pid) {
  char digits[16];
  std::snprintf(digits, sizeof(digits), "%06X", static_cast<unsigned>(Pid));
  return std::string(kHostMarkerPrefix) + digits;
}

std::string FormatLogName(const std::string& Prefix, const std::string& ExtraNamePart,
                          const std::string& ComputerName, int Session) {
  return Prefix + ExtraNamePart + "_" + ComputerName + "_" + std::to_string(Session) + ".log";
}

std::string BuildLogName(const std::string& Prefix, const std::string& ExtraNamePart,
                         const std::string& ComputerName, int Session) {
  return CutLogName(FormatLogName(Prefix, ExtraNamePart, ComputerName, Session));
}

std::string CutLogName(const std::string& Text) {
  std::string name = Text;
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

std::string DropFileExtension(const std::string& Path) {
  const size_t slash = Path.find_last_of(kPathDelimiters);
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = Path.rfind('.');
  if (dot == std::string::npos || dot <= start) return Path;
  return Path.substr(0, dot);
}

std::string ModuleBaseName(const std::string& Path) {
  const std::string stem = DropFileExtension(Path);
  const size_t slash = stem.find_last_of(kPathDelimiters);
  return slash == std::string::npos ? stem : stem.substr(slash + 1);
}

std::string GetLogFolder() {
  const std::string base = GetSpecialFolderPath(CSIDL_COMMON_APPDATA);
  // No data folder at all: the log folder would be a folder below the working folder.
  if (base.empty()) return std::string();
  const std::string folder = base + kLogFolderParent + kPathDelimiter + kLogFolderLeaf + kPathDelimiter;
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
  const std::string marker = HostMarkerName(CurrentProcessId());
  // Not host when a marker exists, or when none can be made.
  FHostMarker = CreateHostMarker(marker);

  if (IsHost()) {
    const std::string folder = GetLogFolder();
    // Without a folder there is no log file: the name stays empty, for every module.
    if (!folder.empty()) {
      const std::string prefix = folder + ModuleBaseName(ThisModulePath());
      FillName(
          LogNameBufferText(FormatLogName(prefix, ExtraNamePart, GetLogComputerName(), GetLogSessionId())));
    }
    PublishName();
    return;
  }
  char published[kLogNameBufferSize] = {};
  if (ReadPublishedLogName(published)) {
    published[kLogNameBufferSize - 1] = '\0';
    FillName(published);
    return;
  }
  // A marker without a slot: the name sits beside the program.
  FillName(LogNameBufferText(FormatLogName(DropFileExtension(GetModuleFilePath()), ExtraNamePart,
                                           GetLogComputerName(), GetLogSessionId())));
}

TBaseLog::~TBaseLog() {
  if (FPublicationSlot != kNoProcessObject) WithdrawLogName(FPublicationSlot);
  if (FHostMarker != kNoProcessObject) CloseHostMarker(FHostMarker);
  FPublicationSlot = kNoProcessObject;
  FHostMarker = kNoProcessObject;
}

void TBaseLog::FillName(const std::string& Text) {
  FLogFileName.fill('\0');
  std::memcpy(FLogFileName.data(), Text.data(), std::min(Text.size(), kLogNameMaxBytes));
}

// A slot that cannot be published leaves the host without one: later modules then name
// their file beside the program, and the process goes on (it writes no log anyway).
void TBaseLog::PublishName() { FPublicationSlot = PublishLogName(FLogFileName.data()); }

}  // namespace dct
