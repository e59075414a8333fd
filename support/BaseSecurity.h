// GrantFolderAccess: every local user may create, read, write and delete files in the folder
// and below it. POSIX mode bits plus access and default ACL entries for "other", so that
// files and folders created later inherit the grant. Changes nothing when already granted.
// Raises std::system_error on failure; callers ignore it and use the folder as it is.
#pragma once

#include <string>

namespace dct {

void GrantFolderAccess(const std::string& folder);
// Makes an existing file readable and writable by every user (the buffer's database and
// its journal). Raises std::system_error on failure.
void GrantFileAccess(const std::string& file);

}  // namespace dct
