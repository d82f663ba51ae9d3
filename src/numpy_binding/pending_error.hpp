// The C++ exception that carries a Python exception to the entry of a call:
// the exception itself stays set in the calling thread's state.
#pragma once

#include <Python.h>

#include <exception>

namespace pwpoly::numpy_binding {

/// Thrown after a Python C API call failed or a signal handler raised. The
/// Python exception is set in the thread's state, where it stays while the
/// interpreter lock is released, so this carries no Python object and may be
/// thrown with or without the lock.
struct PythonErrorPending : std::exception {
    [[nodiscard]] const char* what() const noexcept override { return "Python exception set"; }
};

/// Sets a new exception of `type` with `message` and throws PythonErrorPending.
[[noreturn]] inline void raise_python_error(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw PythonErrorPending{};
}

}  // namespace pwpoly::numpy_binding
