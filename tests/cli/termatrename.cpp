// Loaded into qgrad with LD_PRELOAD: a SIGTERM at a known step of its
// writing, the QGRAD_TERM_AT_RENAME-th rename (from 0), which is when each
// whole file is put in place. A signal at a step, not after a time, so the
// run it tests is the same every time.
#include <dlfcn.h>

#include <csignal>
#include <cstdlib>

extern "C" int rename(const char* from, const char* to) {
    static int left = [] {
        const char* step = std::getenv("QGRAD_TERM_AT_RENAME");
        return step ? std::atoi(step) : -1;
    }();
    if (left >= 0 && left-- == 0) std::raise(SIGTERM);
    static const auto next = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "rename"));
    return next(from, to);
}
