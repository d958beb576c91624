// Two pieces of work on both cores.
#pragma once

#include <algorithm>
#include <cstddef>
#include <future>
#include <utility>

namespace qgrad {

// One piece of work at a time on a second thread while this one goes on.
// Finish waits for it and rethrows its failure; gone unfinished (this
// thread failed), it waits for the work without a word, so that nothing the
// work uses goes before it.
class OnTheOtherCore {
public:
    OnTheOtherCore() = default;
    OnTheOtherCore(const OnTheOtherCore&) = delete;
    OnTheOtherCore& operator=(const OnTheOtherCore&) = delete;
    ~OnTheOtherCore() {
        if (pending_.valid()) pending_.wait();
    }
    // After the work before it has ended (its failure thrown here).
    template <typename Work>
    void Start(Work&& work) {
        Finish();
        pending_ = std::async(std::launch::async, std::forward<Work>(work));
    }
    void Finish() {
        if (pending_.valid()) pending_.get();
    }

private:
    std::future<void> pending_;
};

// Runs `other` on a second thread and `here` on this one, returns when both
// have ended, and rethrows the first failure: this thread's, else the other's.
template <typename Other, typename Here>
void RunSideBySide(Other&& other, Here&& here) {
    OnTheOtherCore elsewhere;
    elsewhere.Start(std::forward<Other>(other));
    here();
    elsewhere.Finish();
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
