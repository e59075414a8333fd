// BaseLog: one common log-file name for every module of a process (the program and any
// shared library loaded into it that carries this same unit).
//
// The first module of a process to start the unit is the host: it works the name out,
// creates the log folder and opens it to all users, and publishes the name. Every later
// module of the process takes the host's name. Nothing writes to the file; the unit only
// agrees on its name.
//
//   log folder   GetSpecialFolderPath(35) + "ZeltEquipment/LOGs/" (with kPathDelimiter)
//   name         "%s%s_%s_%d.log": log folder + the host module's base name, the extra
//                part, the computer name, the session; at most 259 bytes
//   session      Windows: ProcessIdToSessionId, 9999 when it fails.
//                POSIX: the kernel's audit (login) session id of the process, from
//                /proc/self/sessionid. A process outside every login session (a system
//                service started by systemd, a container's processes) has the unset id and
//                counts as session 0, the session that services live in; 9999 when the
//                kernel does not tell (no audit support, no /proc). getsid() was rejected:
//                a service is its own POSIX session leader, so the name would change with
//                every start.
//
// Process-wide named objects: the host marker (its name carries the process's PID) and the
// publication slot (named kPublicationSlotName), each the host's from its start to its end.
//
// On Windows they are the system's own: a named mutex, created initially owned (the creation
// tells whether it existed), and a window class registered with CS_GLOBALCLASS for the
// host's module, whose window-procedure field holds the address of the host's name buffer.
// A later module finds the class with GetClassInfoA and copies the buffer from that address.
//
// On POSIX they are memfd file descriptors, named at creation, found by their name in
// /proc/self/fd:
//   marker  memfd "_com.korvel.baselog.host_<PID, upper-case hex, at least 6 digits>"
//   slot    memfd "_com.korvel.baselog.dataclass", holding the owner's PID and its
//           261-byte name buffer
// The descriptor table is the one thing every module of a process shares without sharing
// symbols (a dlopen'ed library with RTLD_LOCAL, or a program that exports nothing, still
// sees it). Both objects are invisible to other processes and vanish with the host's
// close or with the process, so a crash leaves nothing stale. They are close-on-exec; a
// forked child inherits them, which is why the marker carries the PID and the slot records
// it: the child does not mistake its parent's objects for its own.
// Without /proc no object can be found, and every module is its own host.
//
// REQUIRES: unit start and end are serialised within the process, as they are when they run
// during start-up and shut-down (the program's own initialisation is single-threaded, and
// the dynamic loader runs a library's constructors under its lock). On POSIX the marker is
// found and created in two steps, not atomically.
//
// A library that carries this unit should hide the unit's symbols (-Wl,--exclude-libs,ALL
// or -Bsymbolic), so that its copy is not interposed by another module's copy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace dct {

// A process-wide named object of the platform (see above); kNoProcessObject is none.
using TProcessObject = std::intptr_t;
constexpr TProcessObject kNoProcessObject = -1;

// 261 bytes, zero-filled, at most 259 bytes of name: always zero-terminated.
constexpr size_t kLogNameBufferSize = 261;
constexpr size_t kLogNameMaxBytes = 259;
// Session when the kernel does not report one.
constexpr int kUnknownLogSession = 9999;
// The log folder's two levels below the machine-wide folder.
constexpr char kLogFolderParent[] = "ZeltEquipment";
constexpr char kLogFolderLeaf[] = "LOGs";
constexpr char kHostMarkerPrefix[] = "_com.korvel.baselog.host_";
constexpr char kPublicationSlotName[] = "_com.korvel.baselog.dataclass";

class TBaseLog {
 public:
  // Unit start: decides whether this module is the host and fills its name buffer.
  explicit TBaseLog(const std::string& ExtraNamePart = std::string());
  // Unit end: the host gives up its marker and its slot.
  ~TBaseLog();
  TBaseLog(const TBaseLog&) = delete;
  TBaseLog& operator=(const TBaseLog&) = delete;

  bool IsHost() const { return FHostMarker != kNoProcessObject; }
  // The module's name buffer: the common log-file name, zero-terminated. Empty when the
  // host found no log folder (see GetLogFolder).
  const char* LogFileName() const { return FLogFileName.data(); }

 private:
  void FillName(const std::string& Text);
  void PublishName();

  std::array<char, kLogNameBufferSize> FLogFileName{};
  TProcessObject FHostMarker = kNoProcessObject;
  TProcessObject FPublicationSlot = kNoProcessObject;
};

// Name pieces.

// "_com.korvel.baselog.host_" + PID in upper-case hex, zero-padded to at least 6 digits.
std::string HostMarkerName(uint32_t Pid);
// "%s%s_%s_%d.log", whole.
std::string FormatLogName(const std::string& Prefix, const std::string& ExtraNamePart,
                          const std::string& ComputerName, int Session);
// Text cut to at most 259 bytes, backed off to a whole UTF-8 character.
std::string CutLogName(const std::string& Text);
// FormatLogName cut as CutLogName cuts it: the name as the POSIX buffer holds it.
std::string BuildLogName(const std::string& Prefix, const std::string& ExtraNamePart,
                         const std::string& ComputerName, int Session);
// The text of /proc/self/sessionid as a session: the unset id is 0, unreadable text 9999.
int ParseLogSessionId(const std::string& Text);
// Path without its folder and without the extension of its last part. Every character of
// kPathDelimiters ends a folder.
std::string ModuleBaseName(const std::string& Path);
// Path without the extension of its last part (folder kept).
std::string DropFileExtension(const std::string& Path);

// The log folder, created with every missing level and opened to all users. Errors of
// the creation and of the grant are ignored; the path is returned either way. Empty, and
// nothing created, when neither the machine-wide nor the per-user data folder can be used.
std::string GetLogFolder();

// ---------------------------------------------------------------------------------------
// Platform calls (BaseLog_posix.cpp, BaseLog_windows.cpp).

// The whole name (UTF-8) as the module's buffer holds it, at most kLogNameMaxBytes: on
// POSIX the UTF-8 text as CutLogName cuts it; on Windows the text in the system's ANSI code
// page, which the other modules of the process read it in (characters outside the code
// page replaced by the system's rules), cut at 259 bytes without splitting a character.
std::string LogNameBufferText(const std::string& Name);
// The session of the current process (see above).
int GetLogSessionId();
// The computer's name; empty text when the system does not tell.
std::string GetLogComputerName();
uint32_t CurrentProcessId();

// Creates the host marker of that name unless this process has one: the marker, or
// kNoProcessObject when one exists already or none can be made.
TProcessObject CreateHostMarker(const std::string& Name);
// Whether this process has a host marker of that name.
bool HostMarkerExists(const std::string& Name);
void CloseHostMarker(TProcessObject Marker);

// Publishes the host module's name buffer (kLogNameBufferSize bytes, filled before and
// unchanged while it is published) as this process's slot: the slot, or kNoProcessObject.
TProcessObject PublishLogName(const char* Buffer);
// Copies the name this process's host published into Buffer (kLogNameBufferSize bytes);
// false when there is none.
bool ReadPublishedLogName(char* Buffer);
void WithdrawLogName(TProcessObject Slot);

}  // namespace dct
