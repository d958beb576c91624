#include "gridhost/interrupt.h"

namespace qgrad {
namespace {

// A signal handler may touch only lock-free atomics.
std::atomic<std::atomic<bool>*> cancelTarget{nullptr};
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void SetCancel(int) {
    if (std::atomic<bool>* flag = cancelTarget.load()) flag->store(true);
}

}  // namespace

CancelOnInterrupt::CancelOnInterrupt(std::atomic<bool>& flag) {
    cancelTarget.store(&flag);
    struct sigaction action {};
    action.sa_handler = SetCancel;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, &previousInterrupt_);
    sigaction(SIGTERM, &action, &previousTerminate_);
}

CancelOnInterrupt::~CancelOnInterrupt() {
    sigaction(SIGINT, &previousInterrupt_, nullptr);
    sigaction(SIGTERM, &previousTerminate_, nullptr);
    cancelTarget.store(nullptr);
}

}  // namespace qgrad
