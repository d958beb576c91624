// Long commands of the window (an opening, a folder run) run on a worker
// thread, one at a time, while the window keeps painting. What they hand
// back to the window runs on the window's thread.
#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace qgrad {

// Thrown on the worker when the window goes away during the work.
struct WorkCancelled {};

class BackgroundJob : public QObject {
public:
    explicit BackgroundJob(QObject* parent = nullptr) : QObject(parent) {}
    ~BackgroundJob() override { Stop(); }
    // Cancels the work and waits for it to end; nothing it hands back runs.
    void Stop();

    bool running() const { return running_; }
    // Starts `work` on the worker; `finished` runs on the window's thread
    // once the work has ended, also after a failure (its text) or a cancel.
    void Start(std::function<void()> work, std::function<void(const std::exception_ptr&)> finished);

    // From the worker: runs `apply` on the window's thread and waits until it
    // has run. Throws WorkCancelled when the window goes away meanwhile.
    void ApplyAndWait(const std::function<void()>& apply);
    // From the worker: runs `apply` on the window's thread, without waiting.
    void Post(std::function<void()> apply);
    // From the worker, between steps: throws WorkCancelled once Stop has been called.
    void ThrowIfCancelled() const {
        if (cancelled_) throw WorkCancelled{};
    }

private:

    std::thread worker_;
    bool running_ = false;
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    std::condition_variable applied_;
};

}  // namespace qgrad
