#include "common/memoryreuse.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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

void GiveBackFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

unsigned long long MemoryLeft() {
    const auto page = static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
    unsigned long long left = static_cast<unsigned long long>(sysconf(_SC_PHYS_PAGES)) * page;
    rlimit space{};
    if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) {
        unsigned long long pages = 0;
        if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%llu", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        const unsigned long long used = pages * page;
        left = std::min<unsigned long long>(left, space.rlim_cur > used ? space.rlim_cur - used : 0);
    }
    return left;
}

}  // namespace qgrad
