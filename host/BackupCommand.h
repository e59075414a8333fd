// --backup FILE: a consistent copy of the running service's database, made by this process
// beside the service (see buffer/uDataBufferBackup.h for how the two share the file).
//
//   0  the copy is in place as FILE and passed the integrity check; one line says so
//   1  no copy was made (FILE is as it was); the reason goes to standard error
#pragma once

#include <cstdio>
#include <string>

namespace dct {

// The service's database below DataRoot (with its trailing delimiter): the single device's
// buffer, opened at start as device "0", before any client can rename the device.
std::string ServiceDatabaseFile(const std::string& DataRoot);

// Binds the engine (the name set with SetSQLiteLibraryName) and copies
// ServiceDatabaseFile(DataRoot) to Target. Returns the exit status.
int RunBackupCommand(const std::string& DataRoot, const std::string& Target, const std::string& ProgramName,
                     std::FILE* Out, std::FILE* Err);

}  // namespace dct
