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

/// Prints the pending Python error to standard error and fails with the
/// internal failure "Python API call failed": the path of an interpreter call
/// that returned NULL while a result or argument was being built.
[[noreturn]] void fail_python_api_call();

/// The class PanicException, created on first use. If it cannot be created
/// the process ends with a report.
[[nodiscard]] PyObject* panic_exception_type() noexcept;

/// Sets a new PanicException carrying `message` as the current exception.
void raise_panic_exception(std::string_view message) noexcept;

}  // namespace pwpoly::binding
