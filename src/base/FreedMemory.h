#pragma once

namespace quorvel {

// Hands the free pages of the heap back to the system. The C library keeps freed memory for reuse
// and returns little of it by itself: after a dismissal has let go of a summon's pictures and frames
// this brings the process back toward its size at rest. Any thread; it walks the heap, so not on a
// thread that must answer quickly. Nothing where the C library offers no such call.
void returnFreedMemory();

// At start: fewer heap arenas than one per thread that ever allocated (each keeps its own free
// memory), for a program whose heavy allocation is on a few threads.
void limitHeapArenas();

}  // namespace quorvel
