#include "common/memoryreuse.h"

#include <cstdlib>  // names the C library
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace qgrad {

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    // Large blocks from the one heap that every thread shares, rather than
    // from mappings of their own or from per-thread heaps that give pages
    // back when they shrink; and no trimming of its free top.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, -1);
#endif
}

}  // namespace qgrad
