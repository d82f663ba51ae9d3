// Preparing a thread's exception state while a failure to do so can still be
// reported.
#include "support/thread_preparation.hpp"

#include <cstdlib>
#include <exception>

namespace pwpoly::detail {

constinit thread_local bool thread_ready_for_failures [[gnu::tls_model("initial-exec")]] = false;

bool prepare_thread_for_failures() noexcept {
    // Far more than the runtime's per-thread state needs (tens of bytes):
    // memory just given back is where the allocation below is served from.
    constexpr std::size_t probe_bytes = std::size_t{1} << 16;
    void* probe = std::malloc(probe_bytes);  // NOLINT(cppcoreguidelines-no-malloc)
    if (probe == nullptr) {
        return false;
    }
    // An allocation that is freed unused may be removed by the compiler; the
    // pointer handed to an empty asm statement keeps this one.
    asm volatile("" : : "r"(probe) : "memory");
    std::free(probe);  // NOLINT(cppcoreguidelines-no-malloc)
    // Reading the count of uncaught exceptions makes the runtime allocate the
    // thread's exception state. The function is declared pure, so its result
    // must be used for the call to happen at all.
    volatile int uncaught = std::uncaught_exceptions();
    (void)uncaught;
    thread_ready_for_failures = true;
    return true;
}

}  // namespace pwpoly::detail
