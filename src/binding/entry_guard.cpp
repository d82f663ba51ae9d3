// Turning the C++ exception of a failed entry into one Python exception.
#include "entry_guard.hpp"

#include <cstdlib>
#include <exception>
#include <new>

#include "python_error.hpp"
#include "support/failure.hpp"
#include "support/failure_report.hpp"

namespace pwpoly::binding {

namespace detail {

constinit thread_local bool thread_ready_for_failures [[gnu::tls_model("initial-exec")]] = false;

bool prepare_thread_for_failures() noexcept {
    // Far more than the runtime's per-thread state needs (tens of bytes):
    // memory just given back is where the allocation below is served from.
    constexpr std::size_t probe_bytes = std::size_t{1} << 16;
    void* probe = std::malloc(probe_bytes);  // NOLINT(cppcoreguidelines-no-malloc)
    if (probe == nullptr) {
        PyErr_NoMemory();
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

}  // namespace detail

void abort_uncaught_panic() noexcept { abort_with_report("uncaught panic at ffi boundary"); }

void set_exception_from_current() noexcept {
    try {
        try {
            throw;
        } catch (const PythonError& error) {
            error.restore();
        } catch (const PythonInterrupt& interrupt) {
            interrupt.error().restore();
        } catch (const InternalFailure& failure) {
            raise_panic_exception(failure.message());
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (...) {
            raise_panic_exception("native code failed without a message");
        }
    } catch (...) {
        abort_uncaught_panic();
    }
}

}  // namespace pwpoly::binding
