// Cooperative cancellation of long computations. The core knows nothing of
// signals or interpreters: its long loops poll, every few thousand cheap
// iterations, a check that the host installs, and the check cancels the
// computation by throwing. Whatever it throws unwinds through the core, which
// releases every buffer on the way, to the host's own handler.
#pragma once

#include <cstddef>

namespace pwpoly {

/// Called by poll_cancellation(); returns normally to let the computation go
/// on, or throws to cancel it.
using CancellationCheck = void (*)();

/// Installs the check that poll_cancellation() calls (nullptr: none, the
/// initial state). Process-wide for the library that holds this core.
void install_cancellation_check(CancellationCheck check) noexcept;

/// Runs the installed check, if any; propagates what it throws.
void poll_cancellation();

/// Iterations between two polls in loops whose iterations cost a few
/// nanoseconds each: a poll every few microseconds, so that a cancellation is
/// seen well within a millisecond and the polls cost nothing measurable.
inline constexpr std::size_t cancellation_interval = 4096;

/// Counts iterations of a loop and polls every `interval` of them:
///     CancellationCounter poll;
///     for (...) { poll.tick(); ... }
class CancellationCounter {
public:
    explicit CancellationCounter(std::size_t interval = cancellation_interval) noexcept
        : interval_(interval == 0 ? 1 : interval), left_(interval_) {}

    /// Counts `iterations` (the work since the last tick) and polls when the
    /// interval is used up.
    void tick(std::size_t iterations = 1) {
        if (iterations >= left_) [[unlikely]] {
            left_ = interval_;
            poll_cancellation();
            return;
        }
        left_ -= iterations;
    }

private:
    std::size_t interval_;
    std::size_t left_;
};

}  // namespace pwpoly
