// The allocator's share of the process's memory.
#pragma once

namespace dct {

// Two arenas for the server's two I/O threads and 32 workers: enough to keep allocation off
// the hot path's critical section, few enough that freed catalogue memory is found again.
constexpr int kServerAllocatorArenas = 2;

// Caps the allocator's arenas. Without a cap every worker thread of the HTTP pool gets an
// arena of its own, and each keeps the tens of megabytes that a catalogue call freed, so the
// resident size would grow with the number of threads that ever served a large call.
// REQUIRES: called before the process starts its threads.
void LimitAllocatorArenas(int arenas);

}  // namespace dct
