#include "app/backgroundjob.h"

#include "common/vectorunit.h"

#include <memory>

namespace qgrad {

void BackgroundJob::Stop() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    applied_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void BackgroundJob::Start(std::function<void()> work, std::function<void(const std::exception_ptr&)> finished) {
    if (worker_.joinable()) worker_.join();  // it has handed back its end already
    running_ = true;
    worker_ = std::thread([this, work = std::move(work), finished = std::move(finished)] {
        // A new thread takes over the window thread's vector state, which the
        // window's libraries leave dirty: clean, the work runs at full speed.
        ClearUpperVectorState();
        std::exception_ptr failure;
        try {
            work();
        } catch (const WorkCancelled&) {
            return;
        } catch (...) {
            failure = std::current_exception();
        }
        Post([this, finished, failure] {
            running_ = false;
            finished(failure);
        });
    });
}

void BackgroundJob::ApplyAndWait(const std::function<void()>& apply) {
    auto done = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        this,
        [this, apply, done] {
            apply();
            {
                std::lock_guard lock(mutex_);
                *done = true;
            }
            applied_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    applied_.wait(lock, [&] { return *done || cancelled_; });
    if (!*done) throw WorkCancelled{};
}

void BackgroundJob::Post(std::function<void()> apply) {
    if (cancelled_) return;
    QMetaObject::invokeMethod(this, std::move(apply), Qt::QueuedConnection);
}

}  // namespace qgrad
