// Python exceptions travelling through C++ code: the error type that carries
// one, fetching the interpreter's pending error, and raising new ones.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>

#include "py_ref.hpp"

namespace pwpoly::binding {

/// A Python exception object on its way to the entry guard, which sets it as
/// the interpreter's current exception. Created, copied and destroyed only
/// with the interpreter lock held.
class PythonError {
public:
    /// Takes a normalised exception instance.
    explicit PythonError(PyRef exception) noexcept : exception_(std::move(exception)) {}
    PythonError(const PythonError& other) noexcept
        : exception_(PyRef::borrow(other.exception_.get())) {}
    PythonError(PythonError&&) noexcept = default;
    PythonError& operator=(const PythonError&) = delete;
    PythonError& operator=(PythonError&&) noexcept = default;
    ~PythonError() = default;

    [[nodiscard]] PyObject* exception() const noexcept { return exception_.get(); }
    [[nodiscard]] PyTypeObject* type() const noexcept { return Py_TYPE(exception_.get()); }

    /// Makes this the interpreter's current exception.
    void restore() const noexcept;

private:
    PyRef exception_;
};

/// Takes the interpreter's pending exception after a call reported failure.
/// With none pending, the result is SystemError "attempted to fetch exception
/// but none was set". A PanicException coming back from Python code is not
/// returned: its traceback is printed to standard error and the failure
/// continues as an internal failure with the same message (this throws).
[[nodiscard]] PythonError fetch_python_error();

/// Throws the pending exception, as fetch_python_error() gives it.
[[noreturn]] void throw_python_error();

/// A new exception of `type` with the single argument `message`.
[[nodiscard]] PythonError make_python_error(PyObject* type, std::string_view message);

/// Throws a new exception of `type` with the single argument `message`.
[[noreturn]] void throw_new_python_error(PyObject* type, std::string_view message);

/// The path of an interpreter call that returned NULL while a result or
/// argument was being built: a pending MemoryError is thrown as it is; any
/// other pending error is printed to standard error and the call fails with
/// the internal failure "Python API call failed".
[[noreturn]] void fail_python_api_call();

/// The class PanicException, created on first use (the module creates it
/// while it initialises). Throws the creation error if it cannot be created.
[[nodiscard]] PyObject* panic_exception_type();

/// The class PanicException if it exists yet, else NULL.
[[nodiscard]] PyObject* existing_panic_exception_type() noexcept;

/// Sets a new PanicException carrying `message` as the current exception; if
/// the class cannot be created, sets the error of its creation instead.
void raise_panic_exception(std::string_view message) noexcept;

/// A Python exception raised while a computation polled for cancellation: the
/// error that a signal handler raised (KeyboardInterrupt for Ctrl-C). It
/// travels to the entry guard past the wrapping of argument errors, so that
/// it reaches the caller exactly as the handler raised it.
class PythonInterrupt {
public:
    explicit PythonInterrupt(PythonError error) noexcept : error_(std::move(error)) { ++live_; }
    PythonInterrupt(const PythonInterrupt& other) noexcept : error_(other.error_) { ++live_; }
    PythonInterrupt& operator=(const PythonInterrupt&) = delete;
    PythonInterrupt& operator=(PythonInterrupt&&) = delete;
    ~PythonInterrupt() { --live_; }

    [[nodiscard]] const PythonError& error() const noexcept { return error_; }

    /// True while an interrupt exists on this thread: while one unwinds the
    /// stack towards the entry guard, and until the guard has raised it.
    [[nodiscard]] static bool in_flight() noexcept { return live_ > 0; }

private:
    PythonError error_;
    // Static thread-local storage: reading or changing it never allocates.
    static constinit thread_local int live_ [[gnu::tls_model("initial-exec")]];
};

/// The cancellation check of this module's core: runs the Python signal
/// handlers (PyErr_CheckSignals) and throws a PythonInterrupt with the error
/// one of them raised. Needs the interpreter lock, which every call holds.
void check_python_signals();

}  // namespace pwpoly::binding
