// A process-wide value created once, even when several threads ask for it
// first; a waiting thread releases the interpreter lock so the creating thread
// can finish.
#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>

#include "py_ref.hpp"

namespace pwpoly::binding {

/// Holds one strong reference from its first successful creation to the end
/// of the process. A failed creation leaves the cell empty for a later try.
class OnceCell {
public:
    [[nodiscard]] PyObject* get() const noexcept { return value_.load(std::memory_order_acquire); }

    /// Returns the value, running `make` (which returns a PyRef or throws)
    /// if no value exists yet. Called with the interpreter lock held.
    template <class Make>
    PyObject* get_or_init(Make&& make) {
        if (PyObject* value = get()) {
            return value;
        }
        std::unique_lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock()) {
            // clang-format off
            Py_BEGIN_ALLOW_THREADS
            lock.lock();
            Py_END_ALLOW_THREADS
            // clang-format on
        }
        if (PyObject* value = get()) {
            return value;
        }
        PyRef made = make();
        value_.store(made.release(), std::memory_order_release);
        return get();
    }

private:
    std::mutex mutex_;
    std::atomic<PyObject*> value_{nullptr};
};

}  // namespace pwpoly::binding
