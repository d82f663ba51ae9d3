// Python exceptions travelling through C++ code, and PanicException.
#include "python_error.hpp"

#include "object_text.hpp"
#include "once_cell.hpp"
#include "report_writer.hpp"
#include "support/failure.hpp"
#include "support/failure_report.hpp"
#include "support/standard_error.hpp"
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

// The traceback of `exception` as the interpreter prints it, as one text;
// empty if it cannot be formatted.
std::string formatted_traceback(PyObject* exception) {
    PyRef module = PyRef::steal(PyImport_ImportModule("traceback"));
    PyRef format =
        module ? PyRef::steal(PyObject_GetAttrString(module.get(), "format_exception")) : PyRef();
    PyRef traceback = PyRef::steal(PyException_GetTraceback(exception));
    PyRef lines = format ? PyRef::steal(PyObject_CallFunctionObjArgs(
                               format.get(), reinterpret_cast<PyObject*>(Py_TYPE(exception)),
                               exception, traceback ? traceback.get() : Py_None, nullptr))
                         : PyRef();
    PyRef empty = PyRef::steal(PyUnicode_FromString(""));
    PyRef text = lines && empty ? PyRef::steal(PyUnicode_Join(empty.get(), lines.get())) : PyRef();
    if (!text) {
        PyErr_Clear();
        return {};
    }
    return utf8_text(text.get());
}

// Ends the failure whose report was being written with the pending exception
// of a signal handler.
[[noreturn]] void interrupt_report(const std::string& message) {
    python_support::keep_report_interruption();
    throw ReportInterrupted(message, std::source_location::current());
}

// Whether a stream's write failed because a signal handler raised while it
// waited (KeyboardInterrupt, SystemExit: exceptions outside Exception) rather
// than because the stream is broken.
bool raised_by_interruption() noexcept {
    return PyErr_Occurred() != nullptr && PyErr_ExceptionMatches(PyExc_Exception) == 0;
}

// Writes `text` to sys.stderr in one write, so that no other thread's output
// lands inside it; to the standard-error file when sys.stderr is missing or
// fails. The stream is held for the whole write: its own write may replace
// sys.stderr and drop the last other reference to it. A signal handler that
// raises meanwhile abandons the text, and the failure that the text belongs
// to ends with the handler's exception.
void write_to_python_stderr(const std::string& text, const std::string& message) {
    PyRef stream = PyRef::borrow(PySys_GetObject("stderr"));
    if (stream && stream.get() != Py_None) {
        PyRef piece = PyRef::steal(
            PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
        PyRef written =
            piece ? PyRef::steal(PyObject_CallMethod(stream.get(), "write", "O", piece.get()))
                  : PyRef();
        PyRef flushed =
            written ? PyRef::steal(PyObject_CallMethod(stream.get(), "flush", nullptr)) : PyRef();
        if (flushed) {
            return;
        }
        if (raised_by_interruption()) {
            interrupt_report(message);
        }
        PyErr_Clear();
        if (written) {
            return;
        }
    }
    if (!write_standard_error(text)) {
        throw ReportInterrupted(message, std::source_location::current());
    }
}

// A PanicException raised by Python code that this module called: print its
// traceback and let the failure continue with the same message. The traceback
// goes to sys.stderr as PyErr_Print would write it, but without running
// sys.excepthook (the exception is not uncaught: it continues as a failure
// of this call) and without setting sys.last_*.
[[noreturn]] void resume_panic(PyRef exception) {
    PyRef text = PyRef::steal(PyObject_Str(exception.get()));
    std::string message;
    if (text) {
        message = utf8_text(text.get());
    } else {
        PyErr_Clear();
        message = "Unwrapped panic from Python code";
    }
    std::string traceback = formatted_traceback(exception.get());
    const char* announcement =
        "--- pwpoly: resuming a failure after fetching a PanicException raised by Python code "
        "---\nPython stack trace below:\n";
    if (!traceback.empty()) {
        write_to_python_stderr(announcement + traceback, message);
    } else {
        // Formatting failed (no memory, say): the interpreter prints it, in
        // pieces but still without the hook.
        PySys_WriteStderr("%s", announcement);
        PyObject* traceback_object = PyException_GetTraceback(exception.get());
        PyErr_Display(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())), exception.get(),
                      traceback_object);
        Py_XDECREF(traceback_object);
        PyErr_Clear();
    }
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
    // Before PanicException exists no exception can be one.
    PyObject* panic_type = existing_panic_exception_type();
    if (panic_type != nullptr &&
        reinterpret_cast<PyObject*>(Py_TYPE(exception.get())) == panic_type) {
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
    // Memory that the interpreter refuses is a MemoryError, as for the
    // module's own buffers; any other NULL is a failure of this module.
    if (PyErr_ExceptionMatches(PyExc_MemoryError) != 0) {
        throw_python_error();
    }
    if (PyErr_Occurred() != nullptr) {
        PyErr_Print();
    }
    fail("Python API call failed");
}

PyObject* panic_exception_type() {
    return panic_exception_cell.get_or_init([] {
        PyRef type = PyRef::steal(PyErr_NewExceptionWithDoc(
            panic_exception_name, panic_exception_doc, PyExc_BaseException, nullptr));
        if (!type) {
            throw_python_error();
        }
        return type;
    });
}

constinit thread_local int PythonInterrupt::live_ [[gnu::tls_model("initial-exec")]] = 0;

void check_python_signals() {
    if (PyErr_CheckSignals() < 0) {
        throw PythonInterrupt(fetch_python_error());
    }
}

PyObject* existing_panic_exception_type() noexcept { return panic_exception_cell.get(); }

void raise_panic_exception(std::string_view message) noexcept {
    PyObject* type = nullptr;
    try {
        type = panic_exception_type();
    } catch (const PythonError& error) {
        // The class cannot be created (no memory, or the recursion limit):
        // the caller gets that error instead.
        error.restore();
        return;
    } catch (...) {
        PyErr_NoMemory();
        return;
    }
    PyRef text = PyRef::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) {
        return;  // The MemoryError of the failed text stays set.
    }
    PyErr_SetObject(type, text.get());
}

}  // namespace pwpoly::binding
