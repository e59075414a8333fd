#include "support/uProcessMemory.h"

#include <malloc.h>

namespace dct {

// The runtime's heap is the system's: it has no arena count or mapping threshold to set, and
// it takes blocks of a large size straight from the system already.
void ConfigureServerAllocator() {}

// Gives the heap's free space back to the system.
void ReleaseFreedMemory() { _heapmin(); }

}  // namespace dct
