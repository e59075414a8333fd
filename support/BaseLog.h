// BaseLog: one common log-file name for every module of a process (the program and any
// shared library loaded into it that carries this same unit).
//
// The first module of a process to start the unit is the host: it works the name out,
// creates the log folder and opens it to all users, and publishes the name. Every later
// module of the process takes the host's name. Nothing writes to the file; the unit only
// agrees on its name.
//
//   log folder   GetSpecialFolderPath(35) + "ZeltEquipment/LOGs/"
//   name         "%s%FS%FS%d.log": log folder + the host module's base name, the extra
//                part, the computer name, the session; at most 259 bytes
//   session      the kernel's audit (login) session id of the process, from
//                /proc/self/sessionid. A process outside every login session (a system
//                service started by systemd, a container's processes) has the unset id and
//                counts as session 0, the session that services live in; 9999 when the
//                kernel does not tell (no audit support, no /proc). getsid() was rejected:
//                a service is its own POSIX session leader, so the name would change with
//                every start.
//
// Process-wide named objects. What stands for the named mutex and the global window class
// is a memfd file descriptor, named at creation, found by its name in /proc/self/fd:
//   marker  memfd "_com.korvel.baselog.FHost<PID, upper-case hex, at least 6 digits>"
//   slot    memfd "_com.korvel.baselog.dataclass", holding the owner's PID and its
//           261-byte name buffer
// The descriptor table is the one thing every module of a process shares without sharing
// symbols (a dlopen'ed library with RTLD_LOCAL, or a program that exports nothing, still
// sees it). Both objects are invisible to other processes and vanish with the host's
// close or with the process, so a crash leaves nothing stale. They are close-on-exec; a
// forked child inherits them, which is why the marker carries the PID and the slot records
// it: the child does not mistake its parent's objects for its own.
//
// Without /proc no object can be found, and every module is its own host.
//
// REQUIRES: unit start and end are serialised within the process, as they are when they run
// during start-up and shut-down (the program's own initialisation is single-threaded, and
// the dynamic loader runs a library's constructors under its lock). The marker is found
// and created in two steps, not atomically.
//
// A library that carries this unit should hide the unit's symbols (-Wl,--exclude-libs,ALL
// or -Bsymbolic), so that its copy is not interposed by another module's copy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dct {

// 261 bytes, zero-filled, at most 259 bytes of name: always zero-terminated.
constexpr size_t kLogNameBufferSize = 261;
constexpr size_t kLogNameMaxBytes = 259;
// Session when the kernel does not report one.
constexpr int kUnknownLogSession = 9999;
constexpr char kLogFolderName[] = "ZeltEquipment/LOGs/";
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

  bool IsHost() const { return FHostMarker >= 0; }
  // The module's name buffer: the common log-file name, zero-terminated. Empty when the
  // host found no log folder (see GetLogFolder).
  const char* LogFileName() const { return FLogFileName.data(); }

 private:
  void FillName(const std::string& Text);
  void PublishName();

  std::array<char, kLogNameBufferSize> FLogFileName{};
  int FHostMarker = -1;
  int FPublicationSlot = -1;
};

// Name pieces.

// "_com.korvel.baselog.FHost" + PID in upper-case hex, zero-padded to at least 6 digits.
std::string HostMarkerName(uint32_t Pid);
// "%s%FS%FS%d.log" cut to at most 259 bytes, backed off to a whole UTF-8 character.
std::string BuildLogName(const std::string& Prefix, const std::string& ExtraNamePart,
                         const std::string& ComputerName, int Session);
// The text of /proc/self/sessionid as a session: the unset id is 0, unreadable text 9999.
int ParseLogSessionId(const std::string& Text);
// Path without its folder and without the extension of its last part.
std::string ModuleBaseName(const std::string& Path);
// Path without the extension of its last part (folder kept).
std::string DropFileExtension(const std::string& Path);

// The log folder, created with every missing level and opened to all users. Errors of
// the creation and of the grant are ignored; the path is returned either way. Empty, and
// nothing created, when neither the machine-wide nor the per-user data folder can be used.
std::string GetLogFolder();

// The lowest descriptor of this process that is a process-wide object of that name, or -1
// (errno kept).
int FindProcessObject(const std::string& Name);

// ---------------------------------------------------------------------------------------
// Platform calls (BaseLog_posix.cpp).

// The session of the current process (see above).
int GetLogSessionId();
// The computer's name; empty text when the system does not tell.
std::string GetLogComputerName();
uint32_t CurrentProcessId();

// Process-wide named objects (see above). Create returns a descriptor, or -1 (errno kept).
int CreateProcessObject(const std::string& Name);
// Every descriptor of this process that is an object of that name, lowest first.
std::vector<int> FindProcessObjects(const std::string& Name);
void CloseProcessObject(int Fd);
// Write and read Size bytes at the start of an object; false unless all of them moved.
bool WriteProcessObject(int Fd, const void* Data, size_t Size);
bool ReadProcessObject(int Fd, void* Data, size_t Size);

}  // namespace dct
