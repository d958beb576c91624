// Two pieces of work on both cores.
#pragma once

#include <algorithm>
#include <cstddef>
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

// Runs work(begin, end) over the two halves of [0, n), one on each core.
template <typename Work>
void OnBothCores(std::size_t n, Work&& work) {
    RunSideBySide([&] { work(n / 2, n); }, [&] { work(std::size_t{0}, n / 2); });
}

// Runs work(from, to) over [begin, end) in blocks of `size` rows: a loop
// that visits every channel of a row block keeps the block's points in
// cache, where a loop over each channel's whole length would fetch every
// point once per channel.
template <typename Work>
void ForEachRowBlock(std::size_t begin, std::size_t end, Work&& work, std::size_t size = 2048) {
    for (std::size_t from = begin; from < end; from += size) work(from, std::min(end, from + size));
}

}  // namespace qgrad
