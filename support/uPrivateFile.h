// Files that the operator commands write (a backup, an export): the service's data leaves
// its closed folder in them, so they are made where nobody else can steer them. Each is
// created anew, never through a link and never over a file that is already there, for its
// owner alone, and synced before it is put in place under its final name.
//
// Reading a database the commands did not make goes the other way: its name must name the
// file itself, not a link that someone with write access to its folder put in its place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dct {

// A file as its volume knows it: two names with the same identity name the same file.
struct TFileIdentity {
  uint64_t Volume = 0;
  uint64_t Index = 0;
  bool operator==(const TFileIdentity&) const = default;
};

// ---------------------------------------------------------------------------------------
// Platform calls (uPrivateFile_posix.cpp, uPrivateFile_windows.cpp).

// True, with its identity, when Path itself is a regular file (a link to one is not).
// Otherwise false, with Error saying what Path is ("a symbolic link", "not a regular file")
// or the system's reason.
bool RegularFileIdentity(const std::string& Path, TFileIdentity& Identity, std::string& Error);

// Creates Path, which must not exist in any form (a file, a link, a link to nothing), writes
// Text into it, syncs it and closes it. POSIX: mode 0600 whatever the umask; Windows: the
// folder's inherited access, with nothing added. Raises std::runtime_error naming Path.
void CreatePrivateFile(const std::string& Path, std::string_view Text);

// Writes the file Path to its disk; a link is never followed. Raises
// std::runtime_error naming Path.
void SyncFile(const std::string& Path);

// Writes the entries of Folder (a rename in it) to its disk, where the system needs that
// (POSIX); false when it could not. Windows writes them with the rename.
bool SyncFolder(const std::string& Folder);

}  // namespace dct
