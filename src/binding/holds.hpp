// Holds on instances: the receiver check of a method and the atomic hold
// counter that refuses calls re-entering an instance in a conflicting way.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>
#include <string_view>

#include "object_text.hpp"
#include "python_error.hpp"

namespace pwpoly::binding {

/// 0 = free, k > 0 = k shared holds, all bits set = one exclusive hold.
class HoldCounter {
public:
    static constexpr std::uintptr_t exclusive = ~std::uintptr_t{0};

    /// Adds a shared hold, or fails with RuntimeError "Already mutably borrowed".
    void acquire_shared() {
        std::uintptr_t current = count_.load(std::memory_order_relaxed);
        do {
            if (current == exclusive) {
                throw_new_python_error(PyExc_RuntimeError, "Already mutably borrowed");
            }
        } while (!count_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                               std::memory_order_relaxed));
    }
    void release_shared() noexcept { count_.fetch_sub(1, std::memory_order_release); }

    /// Takes the exclusive hold, or fails with RuntimeError "Already borrowed".
    void acquire_exclusive() {
        std::uintptr_t expected = 0;
        if (!count_.compare_exchange_strong(expected, exclusive, std::memory_order_acquire,
                                            std::memory_order_relaxed)) {
            throw_new_python_error(PyExc_RuntimeError, "Already borrowed");
        }
    }
    void release_exclusive() noexcept { count_.store(0, std::memory_order_release); }

    [[nodiscard]] bool is_free() const noexcept {
        return count_.load(std::memory_order_relaxed) == 0;
    }

private:
    std::atomic<std::uintptr_t> count_{0};
};

/// The instance behind `self` if its type is `type` or a subtype; otherwise
/// TypeError "'{type of self}' object cannot be cast as '{class_name}'".
template <class Instance>
[[nodiscard]] Instance& receiver_of(PyObject* self, PyTypeObject* type,
                                    std::string_view class_name) {
    if (Py_TYPE(self) != type && PyType_IsSubtype(Py_TYPE(self), type) == 0) {
        throw_new_python_error(PyExc_TypeError, cast_error_message(self, class_name));
    }
    return *reinterpret_cast<Instance*>(self);
}

/// A shared hold for the duration of a method call.
class SharedHold {
public:
    explicit SharedHold(HoldCounter& counter) : counter_(counter) { counter_.acquire_shared(); }
    SharedHold(const SharedHold&) = delete;
    SharedHold& operator=(const SharedHold&) = delete;
    ~SharedHold() { counter_.release_shared(); }

private:
    HoldCounter& counter_;
};

/// An exclusive hold for the duration of a method call.
class ExclusiveHold {
public:
    explicit ExclusiveHold(HoldCounter& counter) : counter_(counter) {
        counter_.acquire_exclusive();
    }
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;
    ~ExclusiveHold() { counter_.release_exclusive(); }

private:
    HoldCounter& counter_;
};

}  // namespace pwpoly::binding
