// Getting a thread ready to throw C++ exceptions before it needs to.
#pragma once

namespace pwpoly {

namespace detail {
/// True once this thread is ready to throw (see prepare_thread_for_failures).
/// Initial-exec thread-local storage sits in the static block every thread
/// gets when it starts, so reading it never allocates.
extern constinit thread_local bool thread_ready_for_failures [[gnu::tls_model("initial-exec")]];

/// Makes the C++ runtime allocate this thread's exception state now: the
/// runtime allocates it at the first exception thrown on a thread, and the
/// system library ends the process if that allocation fails. Returns false
/// when the memory is not there.
[[nodiscard, gnu::cold]] bool prepare_thread_for_failures() noexcept;
}  // namespace detail

/// True when the calling thread can throw C++ exceptions without the process
/// ending for want of memory; prepares it on its first call. Every entry from
/// a host calls it before any code that may throw, and reports memory
/// exhaustion (MemoryError) when it returns false.
[[nodiscard]] inline bool thread_ready_for_failures() noexcept {
    return detail::thread_ready_for_failures || detail::prepare_thread_for_failures();
}

}  // namespace pwpoly
