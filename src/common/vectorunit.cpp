#include "common/vectorunit.h"

namespace qgrad {

void ClearUpperVectorState() {
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx")) __asm__ volatile("vzeroupper" ::: "memory");
#endif
}

}  // namespace qgrad
