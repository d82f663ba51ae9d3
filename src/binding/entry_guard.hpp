// The guards around every entry from the interpreter: C++ exceptions end here
// and become exactly one Python exception.
#pragma once

#include <Python.h>

#include "py_ref.hpp"

namespace pwpoly::binding {

/// Sets the Python exception for the C++ exception being handled: a
/// PythonError as it stands, an internal failure as PanicException with its
/// message, std::bad_alloc as MemoryError. Call only inside a catch block.
/// A failure while converting ends the process with a report.
void set_exception_from_current() noexcept;

/// Ends the process with the report "uncaught panic at ffi boundary".
[[noreturn]] void abort_uncaught_panic() noexcept;

namespace detail {
/// True once this thread is ready to raise C++ exceptions (see
/// prepare_thread_for_failures). Initial-exec thread-local storage sits in
/// the static block every thread gets when it starts, so reading it never
/// allocates.
extern constinit thread_local bool thread_ready_for_failures [[gnu::tls_model("initial-exec")]];

/// Makes the C++ runtime allocate this thread's exception state now, while a
/// failure to find the memory can still be reported: the runtime allocates it
/// at the first exception thrown on a thread, and the system library ends the
/// process if that allocation fails. Returns false with MemoryError set when
/// the memory is not there.
[[nodiscard, gnu::cold]] bool prepare_thread_for_failures() noexcept;
}  // namespace detail

/// Runs `body` (returning a PyRef) for an entry from the interpreter and
/// returns its result, or NULL with the Python exception set.
template <class Body>
[[nodiscard]] PyObject* entry_guard(Body&& body) noexcept {
    if (!detail::thread_ready_for_failures && !detail::prepare_thread_for_failures()) [[unlikely]] {
        return nullptr;
    }
    try {
        return body().release();
    } catch (...) {
        set_exception_from_current();
        return nullptr;
    }
}

/// Runs a deallocator. Deallocators have no error channel: a failure inside
/// one ends the process with the report "uncaught panic at ffi boundary".
template <class Body>
void deallocation_guard(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        abort_uncaught_panic();
    }
}

}  // namespace pwpoly::binding
