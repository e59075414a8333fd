#include "buffer/SQLite3.h"

namespace dct {

const char* DefaultSQLiteLibraryName() { return "sqlite3.dll"; }

// The engine ships beside the program: a missing one is result 1006 at enable, never a
// copy that some other program left where the loader searches.
bool SearchSystemForDefaultSQLiteLibrary() { return false; }

}  // namespace dct
