// Run-time binding of the SQLite engine. The engine is reached only through the table of
// entry points filled here; tests swap entries of that table to inject faults.
//
// Library search: LoadSQLiteLibrary("") tries the engine's usual file name on this system
// (DefaultSQLiteLibraryName) beside the program, then, on POSIX only, wherever the system's
// loader finds it. A name containing a path delimiter (kPathDelimiters) is used unchanged
// (the --sqlite-library option); any other name is looked up beside the program.
//
// The table: one slot per entry point, named and typed as in sqlite3.h. 92 entry points are
// required (binding fails without any of them) and 5 are optional (their slots stay null).
// While no library is bound every slot is null; SQLiteLibraryLoaded() tells which case holds.
#pragma once

#include <sqlite3.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "buffer/SQLiteEntryPoints.h"

namespace dct {

// The one error class of the SQLite layer; it carries only its message.
class ESQLiteException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The two key functions exist only in engines built with encryption; sqlite3.h does not
// declare them.
using TSQLiteKeyFunc = int (*)(sqlite3*, const void*, int);

struct TSQLiteAPI {
#define DCT_SQLITE_REQUIRED_SLOT(name) decltype(&::name) name = nullptr;
#define DCT_SQLITE_OPTIONAL_SLOT(name, type) type name = nullptr;
  DCT_SQLITE_REQUIRED_ENTRY_POINTS(DCT_SQLITE_REQUIRED_SLOT)
  DCT_SQLITE_OPTIONAL_ENTRY_POINTS(DCT_SQLITE_OPTIONAL_SLOT)
#undef DCT_SQLITE_REQUIRED_SLOT
#undef DCT_SQLITE_OPTIONAL_SLOT
};

// The process's table. Filled by LoadSQLiteLibrary, cleared by UnloadSQLiteLibrary; tests may
// replace single slots while a library is bound (see SQLiteFaults.h) and must restore them.
extern TSQLiteAPI SQLite;

// Returns whether the library is loaded. Does nothing when it already is. False only when
// no candidate file exists (a name without a folder: when the system's loader finds none):
// the engine is missing. A file that exists but cannot be used raises ESQLiteException and
// leaves the library unloaded: "Cannot load the SQLite library "PATH": <the loader's
// text>" when the loader refuses it, "Cannot get procedure "NAME" address." when a
// required entry point is missing.
bool LoadSQLiteLibrary(const std::string& name);
void UnloadSQLiteLibrary();
bool SQLiteLibraryLoaded();

// The name the device's Enable loads when no engine is bound yet (set by the host from
// --sqlite-library; empty means the default search).
void SetSQLiteLibraryName(const std::string& name);
const std::string& GetSQLiteLibraryName();

// The file names LoadSQLiteLibrary tries for `name`, in order.
std::vector<std::string> SQLiteLibraryCandidates(const std::string& name);

// The names of the table, for checks: required and optional entry points in binding order.
const std::vector<std::string>& SQLiteRequiredEntryPoints();
const std::vector<std::string>& SQLiteOptionalEntryPoints();

// ---------------------------------------------------------------------------------------
// Platform calls (SQLite3_posix.cpp, SQLite3_windows.cpp).

// The engine library's usual file name on this system (libsqlite3.so.0 on POSIX,
// sqlite3.dll on Windows).
const char* DefaultSQLiteLibraryName();
// Whether the default name is tried where the system's loader looks too, after the
// program's folder.
bool SearchSystemForDefaultSQLiteLibrary();

}  // namespace dct
