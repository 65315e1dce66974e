#include "platform/core/ProcessMemory.h"

#include <cstdlib>  // defines __GLIBC__ with glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace fotolane {

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    // Blocks up to 32 MB (the most glibc takes) come from the heap, and up
    // to 256 MB freed at its top stay there: about the blocks of the largest
    // picture, which the process needs again anyway.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}

void GiveBackFreedMemory() noexcept {
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    malloc_trim(0);
#endif
}

}  // namespace fotolane
