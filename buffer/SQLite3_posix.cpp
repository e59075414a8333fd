#include "buffer/SQLite3.h"

namespace dct {

// The runtime package's name, not the development link libsqlite3.so, which a system may
// lack.
const char* DefaultSQLiteLibraryName() { return "libsqlite3.so.0"; }

}  // namespace dct
