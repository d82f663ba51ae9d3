// A process-wide value created once, even when several threads ask for it
// first. A thread that waits for another thread's creation releases the
// interpreter lock so that the creating thread can finish; a creation that is
// entered again on its own thread (from a finalizer or an import hook that
// the creation runs) does not wait for itself; and a forked child never
// inherits a creation that a thread it does not have was running.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

#include "py_ref.hpp"

namespace pwpoly::binding {

/// Holds one strong reference from its first successful creation to the end
/// of the process. A failed creation leaves the cell empty for a later try.
class OnceCell {
public:
    constexpr OnceCell() noexcept = default;
    OnceCell(const OnceCell&) = delete;
    OnceCell& operator=(const OnceCell&) = delete;
    OnceCell(OnceCell&&) = delete;
    OnceCell& operator=(OnceCell&&) = delete;
    ~OnceCell() = default;

    [[nodiscard]] PyObject* get() const noexcept { return value_.load(std::memory_order_acquire); }

    /// Returns the value, running `make` (which returns a PyRef or throws)
    /// if no value exists yet. Called with the interpreter lock held.
    /// - Another thread creating: waits for it with the lock released, then
    ///   returns its value, or creates anew if that creation failed.
    /// - The same thread creating (a creation that runs Python code which asks
    ///   for the value again): creates again, nested; the first creation to
    ///   finish provides the value and later ones are released unused.
    template <class Make>
    PyObject* get_or_init(Make&& make) {
        if (PyObject* value = get()) [[likely]] {
            return value;
        }
        const Claim claim = claim_creation();
        if (claim.existing != nullptr) {
            return claim.existing;
        }
        PyRef made;
        try {
            made = make();
        } catch (...) {
            abandon_creation(claim);
            throw;
        }
        return finish_creation(claim, std::move(made));
    }

private:
    struct Claim {
        /// The value, if another thread's creation provided it meanwhile.
        PyObject* existing;
        /// True when this creation runs inside another one on the same thread.
        bool nested;
    };

    // Waits (with the interpreter lock released) while another thread
    // creates; then either returns the value or makes this thread the creator.
    Claim claim_creation();
    // A failed creation: the cell stays empty and waiting threads try anew.
    void abandon_creation(const Claim& claim) noexcept;
    // Stores `made` unless a nested creation stored a value first; returns the
    // stored value.
    PyObject* finish_creation(const Claim& claim, PyRef made) noexcept;

    friend void reset_creations_after_fork() noexcept;

    std::atomic<PyObject*> value_{nullptr};
    // The thread that is creating the value (pthread_self()), 0 for none.
    std::atomic<std::uintptr_t> creator_{0};
    // Cells that ever started a creation, linked for the fork handler.
    OnceCell* next_registered_ = nullptr;
    bool registered_ = false;
};

}  // namespace pwpoly::binding
