// The guard around every entry of the extension: C++ exceptions end here and
// become exactly one Python exception.
#pragma once

#include <Python.h>

#include <new>

#include "pending_error.hpp"
#include "py_ref.hpp"
#include "support/failure.hpp"

namespace pwpoly::numpy_binding {

/// Runs `body` (returning a PyRef) and returns its result, or NULL with the
/// Python exception set: the pending one (PythonErrorPending), MemoryError for
/// std::bad_alloc, and SystemError for an internal failure of the core, which
/// the Python layer's checks leave no room for.
template <class Body>
[[nodiscard]] PyObject* kernel_entry(Body&& body) noexcept {
    try {
        return body().release();
    } catch (const PythonErrorPending&) {
        return nullptr;  // the exception is set already
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const InternalFailure& failure) {
        return PyErr_Format(PyExc_SystemError, "pwpoly_numpy internal failure: %s",
                            failure.message().c_str());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "pwpoly_numpy: native code failed without a message");
        return nullptr;
    }
}

}  // namespace pwpoly::numpy_binding
