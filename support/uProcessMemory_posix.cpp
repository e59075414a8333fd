#include "support/uProcessMemory.h"

#include <malloc.h>

namespace dct {

void ConfigureServerAllocator() {
  mallopt(M_ARENA_MAX, kServerAllocatorArenas);
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kServerMapBlocksFrom));
}

void ReleaseFreedMemory() { malloc_trim(0); }

}  // namespace dct
