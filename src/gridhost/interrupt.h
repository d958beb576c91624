// Ctrl+C during gridding: the work stops at its next node and nothing
// half-made is written, instead of the process ending wherever it stood.
#pragma once

#include <atomic>

namespace qgrad {

// While alive, SIGINT and SIGTERM set `flag` instead of ending the process.
// A second signal ends it as usual, for a run that does not watch the flag.
class CancelOnInterrupt {
public:
    explicit CancelOnInterrupt(std::atomic<bool>& flag);
    ~CancelOnInterrupt();
    CancelOnInterrupt(const CancelOnInterrupt&) = delete;
    CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;

private:
    using Handler = void (*)(int);
    Handler previousInterrupt_;
    Handler previousTerminate_;
};

}  // namespace qgrad
