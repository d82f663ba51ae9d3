// The installed cancellation check.
#include "support/cancellation.hpp"

#include <atomic>

namespace pwpoly {
namespace {

std::atomic<CancellationCheck> installed_check{nullptr};

}  // namespace

void install_cancellation_check(CancellationCheck check) noexcept {
    installed_check.store(check, std::memory_order_release);
}

void poll_cancellation() {
    if (const CancellationCheck check = installed_check.load(std::memory_order_acquire)) {
        check();
    }
}

}  // namespace pwpoly
