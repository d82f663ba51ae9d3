// Releasing the interpreter lock around kernels, and taking it back only on
// the thread that handles signals, only as often as Ctrl-C needs.
#include "kernel_scope.hpp"

#include <atomic>

#include "pending_error.hpp"

namespace pwpoly::numpy_binding {
namespace {

// The scope of the kernel that this thread runs without the lock, or nullptr
// while the thread holds the lock. Initial-exec storage sits in the static
// block every thread gets when it starts, so reading it never allocates.
constinit thread_local KernelScope* current_scope [[gnu::tls_model("initial-exec")]] = nullptr;

std::atomic<unsigned long> signal_thread{0};

bool thread_handles_signals() {
    return PyInterpreterState_Get() == PyInterpreterState_Main() &&
           PyThread_get_thread_ident() == signal_thread.load(std::memory_order_relaxed);
}

}  // namespace

void set_signal_thread(unsigned long thread_ident) noexcept {
    signal_thread.store(thread_ident, std::memory_order_relaxed);
}

KernelScope::KernelScope()
    : outer_(current_scope),
      handles_signals_(thread_handles_signals()),
      next_check_(std::chrono::steady_clock::now() + signal_check_interval) {
    saved_ = PyEval_SaveThread();
    current_scope = this;
}

KernelScope::~KernelScope() {
    current_scope = outer_;
    PyEval_RestoreThread(saved_);
}

void KernelScope::poll_signals() {
    if (!handles_signals_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < next_check_) {
        return;
    }
    PyEval_RestoreThread(saved_);
    // The handlers run Python code with the lock held: a kernel they start
    // makes its own scope on top of this state.
    current_scope = nullptr;
    const int status = PyErr_CheckSignals();
    current_scope = this;
    saved_ = PyEval_SaveThread();
    next_check_ = std::chrono::steady_clock::now() + signal_check_interval;
    if (status < 0) {
        throw PythonErrorPending{};
    }
}

void check_for_interrupt() {
    if (KernelScope* scope = current_scope) {
        scope->poll_signals();
        return;
    }
    if (PyErr_CheckSignals() < 0) {
        throw PythonErrorPending{};
    }
}

}  // namespace pwpoly::numpy_binding
