// The guard around every entry of the extension: C++ exceptions end here and
// become exactly one Python exception.
#pragma once

#include <Python.h>

#include <new>

#include "pending_error.hpp"
#include "py_ref.hpp"
#include "report_writer.hpp"
#include "support/failure.hpp"
#include "support/thread_preparation.hpp"

namespace pwpoly::numpy_binding {

/// Sets the exception of a failure whose report a signal handler cut short:
/// the handler's exception, else that of a handler that runs now (the report
/// may have been cut short without the lock), else SystemError.
inline void raise_interrupted_failure(const ReportInterrupted& failure) noexcept {
    if (python_support::restore_report_interruption()) {
        return;
    }
    if (PyErr_CheckSignals() < 0) {
        return;
    }
    PyErr_Format(PyExc_SystemError, "pwpoly_numpy internal failure: %s", failure.message().c_str());
}

/// Runs `body` (returning a PyRef) and returns its result, or NULL with the
/// Python exception set: the pending one (PythonErrorPending), MemoryError for
/// std::bad_alloc and for a thread that cannot get ready to throw C++
/// exceptions, and SystemError for an internal failure of the core, which
/// the Python layer's checks leave no room for.
template <class Body>
[[nodiscard]] PyObject* kernel_entry(Body&& body) noexcept {
    if (!thread_ready_for_failures()) [[unlikely]] {
        return PyErr_NoMemory();
    }
    try {
        return body().release();
    } catch (const PythonErrorPending&) {
        return nullptr;  // the exception is set already
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const ReportInterrupted& failure) {
        raise_interrupted_failure(failure);
        return nullptr;
    } catch (const InternalFailure& failure) {
        return PyErr_Format(PyExc_SystemError, "pwpoly_numpy internal failure: %s",
                            failure.message().c_str());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "pwpoly_numpy: native code failed without a message");
        return nullptr;
    }
}

}  // namespace pwpoly::numpy_binding
