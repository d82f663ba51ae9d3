// Running a kernel without the interpreter lock, and the cancellation check
// that lets Ctrl-C stop it.
#pragma once

#include <Python.h>

#include <chrono>

namespace pwpoly::numpy_binding {

/// While it lives, the calling thread runs without the interpreter lock:
/// created with the lock held, it releases it; destroyed, it takes it back.
/// Buffers and objects that the kernel uses must be pinned or owned before
/// it is created, and released after it is gone.
///
/// The core polls for cancellation every few thousand steps
/// (support/cancellation.hpp); check_for_interrupt, the check this extension
/// installs, asks the scope of the polling thread. Only the main thread of
/// the main interpreter runs Python's signal handlers, so only a scope on that
/// thread ever takes the lock back, and at most every signal_check_interval:
/// other threads never wait for the lock while they compute.
class KernelScope {
public:
    KernelScope();
    ~KernelScope();
    KernelScope(const KernelScope&) = delete;
    KernelScope& operator=(const KernelScope&) = delete;
    KernelScope(KernelScope&&) = delete;
    KernelScope& operator=(KernelScope&&) = delete;

    /// Runs the signal handlers with the lock taken back, if this thread
    /// handles signals and the interval has passed since the last time.
    /// Throws PythonErrorPending, with the lock released again, when a handler
    /// raised (KeyboardInterrupt for Ctrl-C).
    void poll_signals();

private:
    PyThreadState* saved_ = nullptr;
    KernelScope* outer_;
    bool handles_signals_;
    std::chrono::steady_clock::time_point next_check_;
};

/// Time between two runs of the signal handlers during a kernel on the main
/// thread: a Ctrl-C stops the kernel within this time plus the wait for the
/// interpreter lock (at most the switch interval, 5 ms by default, while
/// other threads run Python code).
inline constexpr std::chrono::milliseconds signal_check_interval{20};

/// Records the thread that runs Python's signal handlers; called once, at
/// import, with the lock held.
void set_signal_thread(unsigned long thread_ident) noexcept;

/// The cancellation check of this extension's core. In a KernelScope it asks
/// the scope (poll_signals); with the lock held, it runs the signal handlers
/// (PyErr_CheckSignals) and throws PythonErrorPending if one raised.
void check_for_interrupt();

}  // namespace pwpoly::numpy_binding
