// Releasing the interpreter lock and taking it back, also during finalization.
#include "interpreter_lock.hpp"

#include <unistd.h>

namespace pwpoly::python_support {

bool interpreter_finalizing() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

void wait_for_process_exit() noexcept {
    for (;;) {
        pause();
    }
}

PyThreadState* release_lock() noexcept {
    if (interpreter_finalizing()) {
        return nullptr;
    }
    return PyEval_SaveThread();
}

void take_lock_back(PyThreadState* state) noexcept {
    if (state == nullptr) {
        return;
    }
    if (interpreter_finalizing()) {
        wait_for_process_exit();
    }
    // Finalization may begin between the test and the call. Before 3.14 the
    // interpreter then ends the thread with pthread_exit, whose forced
    // unwinding arrives here as an exception of no C++ type; it is caught,
    // and since the handler never ends, the runtime never asks for it to be
    // thrown on. From 3.14 on the call itself waits forever instead.
    try {
        PyEval_RestoreThread(state);
    } catch (...) {
        wait_for_process_exit();
    }
}

}  // namespace pwpoly::python_support
