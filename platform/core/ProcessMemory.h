#pragma once

namespace fotolane {

// Has the C library keep memory that is freed for the next allocation,
// rather than giving each large block back to the system at once and asking
// for a fresh one, page fault by page fault, at the next picture: the
// decoders allocate and free blocks of many megabytes for every picture. A
// program calls it once at its start, before any thread.
void KeepFreedMemoryForReuse();

// Gives the memory kept that way back to the system: when the threads that
// freed it are done, and others, whose own heaps it is not in, take over.
void GiveBackFreedMemory() noexcept;

}  // namespace fotolane
