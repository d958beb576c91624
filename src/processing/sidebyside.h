// Two pieces of work on the two cores.
#pragma once

#include <future>

namespace qgrad {

// Runs `a` on another thread and `b` on this one, waits for both and
// rethrows the first failure, `b`'s before `a`'s.
template <typename A, typename B>
void RunSideBySide(A&& a, B&& b) {
    auto other = std::async(std::launch::async, std::forward<A>(a));
    try {
        b();
    } catch (...) {
        other.wait();
        throw;
    }
    other.get();
}

}  // namespace qgrad
