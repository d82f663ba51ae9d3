// Failure reports written to file descriptor 2 with the interpreter lock
// released while a write waits.
#include "report_writer.hpp"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "interpreter_lock.hpp"
#include "support/standard_error.hpp"

namespace pwpoly::python_support {
namespace {

// Serialises whole reports of different threads. Taken only without the
// interpreter lock and never held while waiting for it, so that no thread can
// block another through the pair of locks.
pthread_mutex_t report_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_once_t fork_handler_once = PTHREAD_ONCE_INIT;

// In a forked child only the forking thread exists; a report that another
// thread was writing at the fork never ends there.
void reset_after_fork() noexcept { report_mutex = PTHREAD_MUTEX_INITIALIZER; }

void install_fork_handler() noexcept { pthread_atfork(nullptr, nullptr, &reset_after_fork); }

// The exception of a handler that cut this thread's report short. Static
// thread-local storage: reading it never allocates.
constinit thread_local PyObject* interruption [[gnu::tls_model("initial-exec")]] = nullptr;

enum class Written { all, interrupted, failed };

// Writes what is left of the report from `written` on, holding the report
// mutex, until it is all out, a signal interrupts a write, or a write fails.
// The first write of a report chooses the text with the note or without it.
Written write_locked(std::string_view& text, std::string_view with_note, std::string_view note,
                     std::size_t& written) noexcept {
    pthread_mutex_lock(&report_mutex);
    if (written == 0 && !with_note.empty() && claim_first_note(note)) {
        text = with_note;
    }
    Written result = Written::all;
    while (written < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            result = Written::interrupted;
            break;
        }
        if (n <= 0) {
            result = Written::failed;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    pthread_mutex_unlock(&report_mutex);
    return result;
}

}  // namespace

void keep_report_interruption() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* exception = PyErr_GetRaisedException();
#else
    PyObject* type = nullptr;
    PyObject* exception = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &exception, &traceback);
    PyErr_NormalizeException(&type, &exception, &traceback);
    if (exception != nullptr && traceback != nullptr) {
        PyException_SetTraceback(exception, traceback);
    }
    Py_XDECREF(type);
    Py_XDECREF(traceback);
#endif
    Py_XDECREF(std::exchange(interruption, exception));
}

bool write_report(std::string_view text, std::string_view first_note, bool lock_held) noexcept {
    pthread_once(&fork_handler_once, &install_fork_handler);
    // The text with its note, should it be the first: made before any lock is
    // taken (without memory for it, the note is left out).
    std::string joined;
    if (!first_note.empty()) {
        try {
            joined = std::string(text) + std::string(first_note);
        } catch (...) {  // NOLINT(bugprone-empty-catch)
        }
    }
    std::size_t written = 0;
    for (;;) {
        PyThreadState* state = lock_held ? release_lock() : nullptr;
        const Written result = write_locked(text, joined, first_note, written);
        take_lock_back(state);
        if (result != Written::interrupted) {
            return true;
        }
        if (!lock_held) {
            return false;
        }
        if (PyErr_CheckSignals() < 0) {
            keep_report_interruption();
            return false;
        }
    }
}

bool restore_report_interruption() noexcept {
    PyObject* exception = std::exchange(interruption, nullptr);
    if (exception == nullptr) {
        return false;
    }
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception);
#else
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exception));
    Py_INCREF(type);
    PyErr_Restore(type, exception, PyException_GetTraceback(exception));
#endif
    return true;
}

}  // namespace pwpoly::python_support
