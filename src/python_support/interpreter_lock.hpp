// Releasing the interpreter lock around work that holds no Python object, and
// taking it back safely, also while the interpreter exits.
#pragma once

#include <Python.h>

namespace pwpoly::python_support {

/// Releases the interpreter lock, which the calling thread holds, and returns
/// the thread's state for take_lock_back. Returns nullptr, keeping the lock,
/// while the interpreter is finalizing: the finalizing thread must keep it.
[[nodiscard]] PyThreadState* release_lock() noexcept;

/// Takes the lock back after release_lock (nothing for nullptr). A thread that
/// comes back while the interpreter is finalizing never returns: the
/// interpreter ends such threads (by forced unwinding before 3.14, which no
/// C++ frame of ours would let pass), so the thread waits here until the
/// process exits instead, holding nothing that the exit needs.
void take_lock_back(PyThreadState* state) noexcept;

/// True while the interpreter is finalizing (readable without the lock).
[[nodiscard]] bool interpreter_finalizing() noexcept;

/// Never returns: the calling thread waits, idle, until the process exits.
[[noreturn]] void wait_for_process_exit() noexcept;

}  // namespace pwpoly::python_support
