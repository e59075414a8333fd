/* Test-only engine library that lacks one required entry point (sqlite3_step): binding it
   must fail with the name of the missing function. The other names exist as empty
   functions, which the binding looks up and never calls. */
#include "buffer/SQLiteEntryPoints.h"

#define sqlite3_step sqlite3_step_is_missing
#define DCT_STUB(name) \
  void name(void);     \
  void name(void) {}
DCT_SQLITE_REQUIRED_ENTRY_POINTS(DCT_STUB)
