// Two pieces of work on both cores.
#pragma once

#include <future>
#include <utility>

namespace qgrad {

// Runs `other` on a second thread and `here` on this one, returns when both
// have ended, and rethrows the first failure: this thread's, else the other's.
template <typename Other, typename Here>
void RunSideBySide(Other&& other, Here&& here) {
    std::future<void> elsewhere = std::async(std::launch::async, std::forward<Other>(other));
    try {
        here();
    } catch (...) {
        elsewhere.wait();
        throw;
    }
    elsewhere.get();
}

}  // namespace qgrad
