#include "buffer/SQLite3.h"

namespace dct {

// The runtime package's name, not the development link libsqlite3.so, which a system may
// lack.
const char* DefaultSQLiteLibraryName() { return "libsqlite3.so.0"; }

// The engine is a system package here: beside the program is only the first place to look.
bool SearchSystemForDefaultSQLiteLibrary() { return true; }

}  // namespace dct
