#include "gridhost/interrupt.h"

#include <csignal>

namespace qgrad {
namespace {

// A signal handler may touch only lock-free atomics.
std::atomic<std::atomic<bool>*> cancelTarget{nullptr};
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void SetCancel(int signal) {
    std::signal(signal, SIG_DFL);  // the next one ends the process
    if (std::atomic<bool>* flag = cancelTarget.load()) flag->store(true);
}

}  // namespace

CancelOnInterrupt::CancelOnInterrupt(std::atomic<bool>& flag) {
    cancelTarget.store(&flag);
    previousInterrupt_ = std::signal(SIGINT, SetCancel);
    previousTerminate_ = std::signal(SIGTERM, SetCancel);
}

CancelOnInterrupt::~CancelOnInterrupt() {
    std::signal(SIGINT, previousInterrupt_);
    std::signal(SIGTERM, previousTerminate_);
    cancelTarget.store(nullptr);
}

}  // namespace qgrad
