#include "support/BaseSecurity.h"

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace dct {

namespace {

constexpr mode_t kAllRWX = S_IRWXU | S_IRWXG | S_IRWXO;
constexpr mode_t kAllRW = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;

[[noreturn]] void RaiseLastError(const char* what, const std::string& path) {
  throw std::system_error(errno, std::generic_category(), std::string(what) + " \"" + path + "\"");
}

// Frees an acl_t on every path out.
class TAcl {
 public:
  explicit TAcl(acl_t acl) : FAcl(acl) {}
  ~TAcl() {
    if (FAcl != nullptr) acl_free(FAcl);
  }
  TAcl(const TAcl&) = delete;
  TAcl& operator=(const TAcl&) = delete;
  acl_t Get() const { return FAcl; }
  acl_t* Ptr() { return &FAcl; }

 private:
  acl_t FAcl;
};

bool HasAllPerms(acl_entry_t entry) {
  acl_permset_t perms = nullptr;
  if (acl_get_permset(entry, &perms) != 0) return false;
  return acl_get_perm(perms, ACL_READ) == 1 && acl_get_perm(perms, ACL_WRITE) == 1 &&
         acl_get_perm(perms, ACL_EXECUTE) == 1;
}

bool SetAllPerms(acl_entry_t entry) {
  acl_permset_t perms = nullptr;
  return acl_get_permset(entry, &perms) == 0 && acl_add_perm(perms, ACL_READ) == 0 &&
         acl_add_perm(perms, ACL_WRITE) == 0 && acl_add_perm(perms, ACL_EXECUTE) == 0 &&
         acl_set_permset(entry, perms) == 0;
}

// What a default ACL must give so that everything created below the folder is open to
// every local user: owner, owning group and others rwx, and the mask rwx when named
// entries make one necessary. Named entries themselves are left as they are.
struct TDefaultAclState {
  bool OwnerAll = false, GroupAll = false, OtherAll = false, MaskAll = false;
  bool HasMask = false, HasNamed = false;
  bool Granted() const { return OwnerAll && GroupAll && OtherAll && (!HasNamed || (HasMask && MaskAll)); }
};

TDefaultAclState Inspect(acl_t acl) {
  TDefaultAclState state;
  acl_entry_t entry = nullptr;
  for (int id = ACL_FIRST_ENTRY; acl_get_entry(acl, id, &entry) == 1; id = ACL_NEXT_ENTRY) {
    acl_tag_t tag = ACL_UNDEFINED_TAG;
    if (acl_get_tag_type(entry, &tag) != 0) continue;
    switch (tag) {
      case ACL_USER_OBJ: state.OwnerAll = HasAllPerms(entry); break;
      case ACL_GROUP_OBJ: state.GroupAll = HasAllPerms(entry); break;
      case ACL_OTHER: state.OtherAll = HasAllPerms(entry); break;
      case ACL_MASK:
        state.HasMask = true;
        state.MaskAll = HasAllPerms(entry);
        break;
      case ACL_USER:
      case ACL_GROUP: state.HasNamed = true; break;
      default: break;
    }
  }
  return state;
}

// Gives the entry of `tag` all permissions, creating it when missing.
bool GrantTag(acl_t* acl, acl_tag_t tag) {
  acl_entry_t entry = nullptr;
  for (int id = ACL_FIRST_ENTRY; acl_get_entry(*acl, id, &entry) == 1; id = ACL_NEXT_ENTRY) {
    acl_tag_t current = ACL_UNDEFINED_TAG;
    if (acl_get_tag_type(entry, &current) == 0 && current == tag) return SetAllPerms(entry);
  }
  if (acl_create_entry(acl, &entry) != 0 || acl_set_tag_type(entry, tag) != 0) return false;
  acl_permset_t perms = nullptr;
  if (acl_get_permset(entry, &perms) != 0 || acl_clear_perms(perms) != 0) return false;
  return SetAllPerms(entry);
}

}  // namespace

void GrantFolderAccess(const std::string& folder) {
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) RaiseLastError("Cannot read the access of", folder);
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    RaiseLastError("Cannot grant access to", folder);
  }
  // The mode bits are the access ACL's owner, mask (or owning group) and other entries.
  if ((st.st_mode & kAllRWX) != kAllRWX) {
    if (chmod(folder.c_str(), (st.st_mode & 07777) | kAllRWX) != 0)
      RaiseLastError("Cannot grant access to", folder);
  }
  TAcl current(acl_get_file(folder.c_str(), ACL_TYPE_DEFAULT));
  if (current.Get() == nullptr) RaiseLastError("Cannot read the default ACL of", folder);
  TDefaultAclState state = Inspect(current.Get());
  if (state.Granted()) return;

  TAcl next(acl_dup(current.Get()));
  if (next.Get() == nullptr) RaiseLastError("Cannot build the default ACL of", folder);
  bool ok = GrantTag(next.Ptr(), ACL_USER_OBJ) && GrantTag(next.Ptr(), ACL_GROUP_OBJ) &&
            GrantTag(next.Ptr(), ACL_OTHER) && (!state.HasNamed || GrantTag(next.Ptr(), ACL_MASK));
  if (!ok) RaiseLastError("Cannot build the default ACL of", folder);
  if (acl_valid(next.Get()) != 0) RaiseLastError("Cannot build the default ACL of", folder);
  if (acl_set_file(folder.c_str(), ACL_TYPE_DEFAULT, next.Get()) != 0)
    RaiseLastError("Cannot write the default ACL of", folder);
}

void GrantFileAccess(const std::string& file) {
  struct stat st {};
  if (stat(file.c_str(), &st) != 0) RaiseLastError("Cannot read the access of", file);
  if ((st.st_mode & kAllRW) == kAllRW) return;
  if (chmod(file.c_str(), (st.st_mode & 07777) | kAllRW) != 0) RaiseLastError("Cannot grant access to", file);
}

}  // namespace dct
