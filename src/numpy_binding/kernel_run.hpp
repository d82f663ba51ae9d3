// Running kernels without the interpreter lock, piece by piece, so that Ctrl-C
// stops them and no Python code ever runs while they hold array memory.
#pragma once

#include <Python.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>

#include "kernel_arrays.hpp"

namespace pwpoly::numpy_binding {

/// Time between two runs of the signal handlers during a kernel on the thread
/// that handles signals: a Ctrl-C stops the kernel within about this time
/// plus the wait for the interpreter lock (at most the switch interval, 5 ms
/// by default, while other threads run Python code).
inline constexpr std::chrono::milliseconds signal_check_interval{20};

/// Work of one piece of a kernel on the thread that handles signals, in
/// kernel terms (one multiply-add of a Legendre sum, one entry written):
/// well under a millisecond.
inline constexpr std::size_t piece_work = std::size_t{1} << 18;

namespace detail {
using Step = void (*)(void* context, std::size_t first, std::size_t last);
void run_over(std::span<KernelArray* const> arrays, std::size_t count, std::size_t item_work,
              Step step, void* context);
void run_detached(Step step, void* context);
}  // namespace detail

/// One kernel call over the arrays it reads and fills (held already, by
/// their constructors).
///
/// over(count, item_work, step) calls step(first, last) for consecutive
/// ranges of the items 0 ... count - 1 (times, rows, intervals: each item's
/// results depend on that item alone), without the interpreter lock. On the
/// thread that handles signals (the main thread of the main interpreter) the
/// ranges are pieces of about piece_work terms (`item_work` terms per item);
/// between two pieces, at most every signal_check_interval, the arrays are
/// released, the signal handlers run with the lock held, and the arrays are
/// held again (a handler that raises ends the call with its exception; an
/// array that changed its memory ends it with RuntimeError). The core's
/// cancellation polls within a piece that overruns the interval abandon it
/// (its results are written again), and it is run again in smaller pieces
/// after the handlers; a single item so abandoned then runs whole. Other
/// threads run all items at once and never take the lock meanwhile.
///
/// detached(work) calls work() once without the lock, while the call holds
/// no array: there the core's polls run the signal handlers in place.
class KernelRun {
public:
    KernelRun(std::initializer_list<KernelArray*> arrays) noexcept;

    template <class Step>
    void over(std::size_t count, std::size_t item_work, Step&& step) {
        detail::run_over(
            std::span(arrays_.data(), size_), count, item_work,
            [](void* context, std::size_t first, std::size_t last) {
                (*static_cast<std::remove_reference_t<Step>*>(context))(first, last);
            },
            &step);
    }

    template <class Work>
    static void detached(Work&& work) {
        detail::run_detached(
            [](void* context, std::size_t /*first*/, std::size_t /*last*/) {
                (*static_cast<std::remove_reference_t<Work>*>(context))();
            },
            &work);
    }

    /// `prepare()`, computed by a detached run while every array of this run
    /// is let go of (the signal handlers may run meanwhile); the arrays are
    /// held again, unchanged, before it returns. For the preparation of a
    /// kernel that reads no array (a table of weights, say).
    template <class Prepare>
    auto prepared_without_arrays(Prepare&& prepare) {
        release_arrays();
        std::optional<decltype(prepare())> result;
        detached([&] { result.emplace(prepare()); });
        hold_arrays();
        return std::move(result).value();  // NOLINT(bugprone-unchecked-optional-access)
    }

private:
    void release_arrays() noexcept;
    void hold_arrays();

    std::array<KernelArray*, 4> arrays_{};
    std::size_t size_ = 0;
};

/// True while the calling thread runs a kernel without the interpreter lock.
[[nodiscard]] bool lock_released_by_kernel() noexcept;

/// Records the thread that runs Python's signal handlers; called at import,
/// with the lock held, and in a forked child, whose only thread handles them.
void set_signal_thread(unsigned long thread_ident) noexcept;

/// The cancellation check of this extension's core. In a kernel piece on the
/// thread that handles signals it abandons the piece once the interval is
/// overrun (or runs the handlers in place in a detached run); with the lock
/// held it runs the signal handlers (PyErr_CheckSignals) and throws
/// PythonErrorPending if one raised.
void check_for_interrupt();

}  // namespace pwpoly::numpy_binding
