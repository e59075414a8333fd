// The allocator's share of the process's memory.
#pragma once

namespace dct {

// Caps the allocator's arenas. Without a cap every worker thread of the HTTP pool gets an
// arena of its own, and each keeps the tens of megabytes that a catalogue call freed, so the
// resident size would grow with the number of threads that ever served a large call.
void LimitAllocatorArenas(int arenas);

}  // namespace dct
