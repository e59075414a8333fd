#include "support/BaseSecurity.h"

#include <aclapi.h>
#include <windows.h>

#include <string>
#include <system_error>

#include "support/uWideText.h"

namespace dct {

namespace {

[[noreturn]] void RaiseError(DWORD error, const char* what, const std::string& path) {
  throw std::system_error(static_cast<int>(error), std::system_category(),
                          std::string(what) + " \"" + path + "\"");
}

// The well-known group Everyone (S-1-1-0), freed on every path out.
class TEveryoneSid {
 public:
  explicit TEveryoneSid(const std::string& path) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &FSid)) {
      RaiseError(GetLastError(), "Cannot build the Everyone identifier for", path);
    }
  }
  ~TEveryoneSid() { FreeSid(FSid); }
  TEveryoneSid(const TEveryoneSid&) = delete;
  TEveryoneSid& operator=(const TEveryoneSid&) = delete;
  PSID Get() const { return FSid; }

 private:
  PSID FSid = nullptr;
};

// Memory the security calls hand out with LocalAlloc.
class TLocalMemory {
 public:
  TLocalMemory() = default;
  ~TLocalMemory() {
    if (FMemory != nullptr) LocalFree(FMemory);
  }
  TLocalMemory(const TLocalMemory&) = delete;
  TLocalMemory& operator=(const TLocalMemory&) = delete;
  void Take(void* memory) { FMemory = memory; }

 private:
  void* FMemory = nullptr;
};

// Whether one of the list's entries already gives Everyone what is asked. Every entry type
// the system puts on files has its access mask and trustee where an allowing entry has them.
template <typename Granted>
bool HasEveryoneEntry(PACL dacl, PSID everyone, Granted granted) {
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) continue;
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    PSID trustee = const_cast<DWORD*>(&ace->SidStart);
    if (IsValidSid(trustee) && EqualSid(trustee, everyone) && granted(*ace)) return true;
  }
  return false;
}

// Adds an entry for Everyone to the object's access list unless `granted` finds one there.
// A missing list (open to everyone) is left as it is.
template <typename Granted>
void GrantEveryone(const std::string& path, DWORD access, DWORD inheritance, Granted granted) {
  const TEveryoneSid everyone(path);
  std::wstring widePath = Utf8ToWide(path);
  PACL dacl = nullptr;
  TLocalMemory descriptor;
  {
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD read = GetNamedSecurityInfoW(widePath.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                             nullptr, nullptr, &dacl, nullptr, &sd);
    if (read != ERROR_SUCCESS) RaiseError(read, "Cannot read the access list of", path);
    descriptor.Take(sd);
  }
  if (dacl == nullptr) return;
  if (HasEveryoneEntry(dacl, everyone.Get(), granted)) return;

  EXPLICIT_ACCESS_W entry{};
  entry.grfAccessPermissions = access;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = inheritance;
  entry.Trustee.pMultipleTrustee = nullptr;
  entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  entry.Trustee.ptstrName = static_cast<LPWSTR>(everyone.Get());
  PACL next = nullptr;
  const DWORD built = SetEntriesInAclW(1, &entry, dacl, &next);
  if (built != ERROR_SUCCESS) RaiseError(built, "Cannot build the access list of", path);
  TLocalMemory nextMemory;
  nextMemory.Take(next);
  // A list that cannot be written leaves the object as it was, usable by its owner: the
  // callers go on with it either way.
  SetNamedSecurityInfoW(widePath.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, next,
                        nullptr);
}

}  // namespace

// Everyone, GENERIC_ALL, inherited by the files and folders made below. An entry for
// Everyone whose mask is exactly GENERIC_ALL, of whatever type, counts as the grant.
void GrantFolderAccess(const std::string& folder) {
  GrantEveryone(folder, GENERIC_ALL, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                [](const ACCESS_ALLOWED_ACE& ace) { return ace.Mask == GENERIC_ALL; });
}

// Files below a granted folder inherit its entry already (as FILE_ALL_ACCESS); this covers a
// file whose folder could not be granted.
void GrantFileAccess(const std::string& file) {
  GrantEveryone(file, GENERIC_READ | GENERIC_WRITE, NO_INHERITANCE, [](const ACCESS_ALLOWED_ACE& ace) {
    if (ace.Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (ace.Header.AceFlags & INHERIT_ONLY_ACE) != 0) {
      return false;
    }
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    DWORD mask = ace.Mask;
    MapGenericMask(&mask, &mapping);
    const DWORD wanted = FILE_GENERIC_READ | FILE_GENERIC_WRITE;
    return (mask & wanted) == wanted;
  });
}

}  // namespace dct
