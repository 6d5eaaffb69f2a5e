#include "support/MemoryTrim.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace MemoryTrim {

void returnFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void giveLargeBlocksTheirOwnPages()
{
#if defined(__GLIBC__)
    // Setting the limit also stops the allocator from moving it.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

} // namespace MemoryTrim
