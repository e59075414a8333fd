// The allocator's share of the process's memory.
//
// A catalogue call holds a few large buffers (the request, the value text, the answer, the
// table's cells) and a million small blocks (the decoded texts) for a second, then frees
// them all. What the allocator keeps of that stays resident until the next large call, and
// adds to it when that one runs in the other arena: so the server maps large buffers on
// their own and hands the freed small blocks back after each large call.
#pragma once

#include <cstddef>

namespace dct {

// Two arenas for the server's two I/O threads and 32 workers: enough to keep allocation off
// the hot path's critical section, few enough that freed catalogue memory is found again.
constexpr int kServerAllocatorArenas = 2;

// Blocks from this size up are mapped on their own: freed, they go back to the system at
// once, and room reserved in them but never written costs nothing. A fixed size also keeps
// the allocator from raising it after each freed large block, which would put the next
// call's large buffers on the heap.
constexpr size_t kServerMapBlocksFrom = 1 << 20;

// A call that moved at least this much value text gives the freed memory back after it.
constexpr size_t kReleaseAfterBytes = 1 << 20;

// The server's settings: at most kServerAllocatorArenas arenas (without a cap every worker
// thread of the HTTP pool gets an arena of its own, each keeping what a catalogue call
// freed), blocks from kServerMapBlocksFrom mapped on their own.
// REQUIRES: called before the process starts its threads.
void ConfigureServerAllocator();

// Gives the free memory of every arena back to the system (the pages wholly inside free
// blocks). Costs a few milliseconds after a catalogue call, so it is meant for large calls.
void ReleaseFreedMemory();

}  // namespace dct
