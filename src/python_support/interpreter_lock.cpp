// Releasing the interpreter lock and taking it back, also during finalization.
#include "interpreter_lock.hpp"

#include <pthread.h>
#include <setjmp.h>  // NOLINT(modernize-deprecated-headers): sigsetjmp is POSIX, not C++
#include <unistd.h>

// What C's pthread_cleanup_push registers: a buffer where the forced unwinding
// of the thread (pthread_exit, pthread_cancel) stops. glibc declares these for
// C only; they exist since glibc 2.3.3.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" {
void __pthread_register_cancel(__pthread_unwind_buf_t* buffer);
void __pthread_unregister_cancel(__pthread_unwind_buf_t* buffer);
}
// NOLINTEND(bugprone-reserved-identifier)

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
    // Finalization may begin between the test and the call, or while the call
    // waits for the lock. Before 3.14 the interpreter then ends the thread
    // with pthread_exit, whose forced unwinding must not reach a C++ frame:
    // glibc unwinds with the system's unwinder (libgcc_s), which calls each
    // frame's personality routine, and the one of a C++ runtime linked into
    // the module (the wheels carry libc++abi and its own libunwind) cannot
    // read that unwinder's frames and crashes. glibc stops the unwinding at
    // the innermost cancellation buffer of the thread, before any frame of
    // this function is visited, and jumps back here; the thread then waits
    // until the process exits. From 3.14 on the call itself waits forever.
    __pthread_unwind_buf_t cancellation{};
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    if (sigsetjmp(reinterpret_cast<__jmp_buf_tag*>(cancellation.__cancel_jmp_buf), 0) != 0) {
        wait_for_process_exit();
    }
    __pthread_register_cancel(&cancellation);
    PyEval_RestoreThread(state);
    __pthread_unregister_cancel(&cancellation);
}

}  // namespace pwpoly::python_support
