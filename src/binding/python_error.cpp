// Python exceptions travelling through C++ code, and PanicException.
#include "python_error.hpp"

#include "object_text.hpp"
#include "once_cell.hpp"
#include "support/failure.hpp"
#include "support/failure_report.hpp"
#include "support/text.hpp"

namespace pwpoly::binding {
namespace {

constexpr const char* panic_exception_name = "pwpoly_runtime.PanicException";
constexpr const char* panic_exception_doc =
    "The exception raised when native code called from Python fails with an internal error.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that it will typically\n"
    "propagate all the way through the stack and cause the Python interpreter to exit.";

OnceCell panic_exception_cell;

// Takes the pending exception as one normalised instance, or NULL if none.
PyRef take_pending_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return PyRef::steal(PyErr_GetRaisedException());
#else
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        return {};
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) {
        PyException_SetTraceback(value, traceback);
    }
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return PyRef::steal(value);
#endif
}

void set_pending_exception(PyRef exception) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception.release());
#else
    PyObject* value = exception.release();
    PyObject* type = new_ref(reinterpret_cast<PyObject*>(Py_TYPE(value)));
    PyErr_Restore(type, value, PyException_GetTraceback(value));
#endif
}

// A PanicException raised by Python code that this module called: print its
// traceback and let the failure continue with the same message.
[[noreturn]] void resume_panic(PyRef exception) {
    PyRef text = PyRef::steal(PyObject_Str(exception.get()));
    std::string message;
    if (text) {
        message = utf8_text(text.get());
    } else {
        PyErr_Clear();
        message = "Unwrapped panic from Python code";
    }
    PySys_WriteStderr(
        "--- pwpoly: resuming a failure after fetching a PanicException raised by Python code "
        "---\nPython stack trace below:\n");
    set_pending_exception(std::move(exception));
    PyErr_PrintEx(0);
    resume_failure(std::move(message));
}

}  // namespace

void PythonError::restore() const noexcept {
    set_pending_exception(PyRef::borrow(exception_.get()));
}

// Fetching may build a SystemError, and building an error may fetch the one
// that its creation raised: the recursion ends at the first error the
// interpreter can create (at worst its preallocated MemoryError).
// NOLINTNEXTLINE(misc-no-recursion)
PythonError fetch_python_error() {
    PyRef exception = take_pending_exception();
    if (!exception) {
        return make_python_error(PyExc_SystemError,
                                 "attempted to fetch exception but none was set");
    }
    PyObject* panic_type = panic_exception_type();
    if (reinterpret_cast<PyObject*>(Py_TYPE(exception.get())) == panic_type) {
        resume_panic(std::move(exception));
    }
    return PythonError(std::move(exception));
}

// NOLINTNEXTLINE(misc-no-recursion): see fetch_python_error.
void throw_python_error() { throw fetch_python_error(); }

// NOLINTNEXTLINE(misc-no-recursion): see fetch_python_error.
PythonError make_python_error(PyObject* type, std::string_view message) {
    PyRef text = PyRef::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) {
        throw_python_error();
    }
    PyRef exception = PyRef::steal(PyObject_CallOneArg(type, text.get()));
    if (!exception) {
        throw_python_error();
    }
    return PythonError(std::move(exception));
}

void throw_new_python_error(PyObject* type, std::string_view message) {
    throw make_python_error(type, message);
}

void fail_python_api_call() {
    if (PyErr_Occurred() != nullptr) {
        PyErr_Print();
    }
    fail("Python API call failed");
}

PyObject* panic_exception_type() noexcept {
    try {
        return panic_exception_cell.get_or_init([] {
            PyRef type = PyRef::steal(PyErr_NewExceptionWithDoc(
                panic_exception_name, panic_exception_doc, PyExc_BaseException, nullptr));
            if (!type) {
                PyRef error = take_pending_exception();
                abort_with_report(concat("Failed to initialize new exception type.: ",
                                         error ? text_of(error.get()) : std::string("<no error>")));
            }
            return type;
        });
    } catch (...) {
        abort_with_report("uncaught panic at ffi boundary");
    }
}

void raise_panic_exception(std::string_view message) noexcept {
    PyObject* type = panic_exception_type();
    PyRef text = PyRef::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) {
        return;  // The MemoryError of the failed text stays set.
    }
    PyErr_SetObject(type, text.get());
}

}  // namespace pwpoly::binding
