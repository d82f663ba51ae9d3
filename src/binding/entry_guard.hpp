// The guards around every entry from the interpreter: C++ exceptions end here
// and become exactly one Python exception.
#pragma once

#include <Python.h>

#include "py_ref.hpp"
#include "support/thread_preparation.hpp"

namespace pwpoly::binding {

/// Sets the Python exception for the C++ exception being handled: a
/// PythonError as it stands, an internal failure as PanicException with its
/// message, std::bad_alloc as MemoryError. Call only inside a catch block.
/// A failure while converting ends the process with a report.
void set_exception_from_current() noexcept;

/// Ends the process with the report "uncaught panic at ffi boundary".
[[noreturn]] void abort_uncaught_panic() noexcept;

/// Runs `body` (returning a PyRef) for an entry from the interpreter and
/// returns its result, or NULL with the Python exception set.
template <class Body>
[[nodiscard]] PyObject* entry_guard(Body&& body) noexcept {
    if (!thread_ready_for_failures()) [[unlikely]] {
        return PyErr_NoMemory();
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
