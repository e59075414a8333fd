#include "support/uProcessMemory.h"

#include <malloc.h>

namespace dct {

void LimitAllocatorArenas(int arenas) { mallopt(M_ARENA_MAX, arenas); }

}  // namespace dct
