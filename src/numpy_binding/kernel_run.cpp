// Kernels run piece by piece without the interpreter lock; the signal
// handlers run between pieces, with every array let go.
#include "kernel_run.hpp"

#include <algorithm>
#include <atomic>
#include <utility>

#include "interpreter_lock.hpp"
#include "pending_error.hpp"

namespace pwpoly::numpy_binding {
namespace {

using std::chrono::steady_clock;

// Times that the batch kernels carry through the recurrences together: a
// piece of whole blocks keeps every block full.
constexpr std::size_t block_items = 4;

// A piece that runs past the next check by more than this is abandoned.
constexpr std::chrono::milliseconds overrun_allowance{4};

// What the cancellation check needs to know of the piece this thread runs.
struct PieceState {
    // The thread's state while the lock is released; nullptr when the lock
    // stayed held (the interpreter is finalizing).
    PyThreadState* saved = nullptr;
    bool signal_thread = false;
    bool may_abandon = false;
    bool handlers_in_place = false;
    steady_clock::time_point deadline;
};

// Thrown by the cancellation check to abandon a piece.
struct PieceAbandoned {};

// The piece that this thread runs, or nullptr. Initial-exec storage sits in
// the static block every thread gets when it starts, so reading it never
// allocates.
constinit thread_local PieceState* current_piece [[gnu::tls_model("initial-exec")]] = nullptr;

std::atomic<unsigned long> signal_thread{0};

bool thread_handles_signals() {
    return PyInterpreterState_Get() == PyInterpreterState_Main() &&
           PyThread_get_thread_ident() == signal_thread.load(std::memory_order_relaxed);
}

// Runs step(context, first, last) without the lock; true when the piece was
// abandoned. Whatever else the step throws arrives with the lock held again.
bool run_piece(PieceState& piece, detail::Step step, void* context, std::size_t first,
               std::size_t last) {
    piece.saved = python_support::release_lock();
    PieceState* outer = std::exchange(current_piece, &piece);
    bool abandoned = false;
    try {
        step(context, first, last);
    } catch (const PieceAbandoned&) {
        abandoned = true;
    } catch (...) {
        current_piece = outer;
        python_support::take_lock_back(piece.saved);
        throw;
    }
    current_piece = outer;
    python_support::take_lock_back(piece.saved);
    return abandoned;
}

// Between two pieces, with the lock: lets go of the arrays, runs the signal
// handlers and takes hold of the arrays again.
void run_handlers_between(std::span<KernelArray* const> arrays) {
    for (KernelArray* array : arrays) {
        array->release();
    }
    if (PyErr_CheckSignals() < 0) {
        throw PythonErrorPending{};
    }
    for (KernelArray* array : arrays) {
        array->hold();
    }
}

// Items per piece: about piece_work terms, whole blocks of lanes where more
// than one block fits.
std::size_t piece_items(std::size_t item_work) {
    const std::size_t items =
        std::max<std::size_t>(1, piece_work / std::max<std::size_t>(1, item_work));
    return items >= block_items ? items - items % block_items : items;
}

}  // namespace

KernelRun::KernelRun(std::initializer_list<KernelArray*> arrays) noexcept
    : size_(std::min(arrays.size(), arrays_.size())) {
    std::copy_n(arrays.begin(), size_, arrays_.begin());
}

void KernelRun::release_arrays() noexcept {
    for (std::size_t i = 0; i < size_; ++i) {
        arrays_[i]->release();
    }
}

void KernelRun::hold_arrays() {
    for (std::size_t i = 0; i < size_; ++i) {
        arrays_[i]->hold();
    }
}

namespace detail {

void run_over(std::span<KernelArray* const> arrays, std::size_t count, std::size_t item_work,
              Step step, void* context) {
    if (count == 0) {
        return;
    }
    const bool handles_signals = thread_handles_signals();
    std::size_t piece = handles_signals ? piece_items(item_work) : count;
    bool may_abandon = handles_signals;
    auto next_check = steady_clock::now() + signal_check_interval;
    std::size_t first = 0;
    while (first < count) {
        const std::size_t last = first + std::min(piece, count - first);
        PieceState state{.signal_thread = handles_signals,
                         .may_abandon = may_abandon,
                         .deadline = next_check + overrun_allowance};
        const bool abandoned = run_piece(state, step, context, first, last);
        if (abandoned) {
            // A single item that overran runs whole next time: the call
            // always moves on.
            may_abandon = piece > 1;
            piece = std::max<std::size_t>(1, piece / 4);
        } else {
            first = last;
            may_abandon = handles_signals;
        }
        if (handles_signals && first < count && (abandoned || steady_clock::now() >= next_check)) {
            run_handlers_between(arrays);
            next_check = steady_clock::now() + signal_check_interval;
        }
    }
}

void run_detached(Step step, void* context) {
    PieceState state{.signal_thread = thread_handles_signals(),
                     .handlers_in_place = true,
                     .deadline = steady_clock::now() + signal_check_interval};
    (void)run_piece(state, step, context, 0, 1);
}

}  // namespace detail

bool lock_released_by_kernel() noexcept {
    const PieceState* piece = current_piece;
    return piece != nullptr && piece->saved != nullptr;
}

void set_signal_thread(unsigned long thread_ident) noexcept {
    signal_thread.store(thread_ident, std::memory_order_relaxed);
}

void check_for_interrupt() {
    PieceState* piece = current_piece;
    if (piece == nullptr) {
        if (PyErr_CheckSignals() < 0) {
            throw PythonErrorPending{};
        }
        return;
    }
    if (!piece->signal_thread || piece->saved == nullptr || steady_clock::now() < piece->deadline) {
        return;
    }
    if (!piece->handlers_in_place) {
        if (piece->may_abandon) {
            throw PieceAbandoned{};
        }
        return;
    }
    // A detached run holds no array: the handlers run here, and Python code
    // they run that starts a kernel of its own finds no piece of this one.
    python_support::take_lock_back(piece->saved);
    current_piece = nullptr;
    const int status = PyErr_CheckSignals();
    current_piece = piece;
    piece->saved = python_support::release_lock();
    piece->deadline = steady_clock::now() + signal_check_interval;
    if (status < 0) {
        throw PythonErrorPending{};
    }
}

}  // namespace pwpoly::numpy_binding
