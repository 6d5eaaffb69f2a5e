#pragma once

#include <cstddef>

// Hands memory that the program has freed back to the system. The allocator keeps freed heap
// pages for reuse; after a large clip (a 3000×3000 image takes tens of MiB on its way through
// decoding, normalising and encoding) that would leave the resident size of a program that
// idles in the tray raised for good.
namespace MemoryTrim {

// Clips of at least this many bytes of pixels or payload count as large: a one-megapixel
// screenshot (4 MB of pixels) already leaves several MiB of freed pages behind.
inline constexpr std::size_t kLargeClipBytes = 1024u * 1024;

// Returns the allocator's free pages to the system; a no-op where the C library cannot.
void returnFreedMemory();

// Called once at start: blocks of 256 KiB and more get pages of their own, handed back when they
// are freed. Without it the allocator raises that limit after the first large block and keeps
// the next ones in the heap of the thread that made them, where a trim cannot reach the free
// space at its top: an image captured on a worker left its ~8 MiB there for good.
void giveLargeBlocksTheirOwnPages();

} // namespace MemoryTrim
