// The waiting and the bookkeeping behind OnceCell. One process-wide mutex and
// condition variable serve all cells; the mutex is held only for a few
// instructions at a time, never while Python code runs or while waiting for
// the interpreter lock, so no thread can block another through it.
#include "once_cell.hpp"

#include <pthread.h>

#include "interpreter_lock.hpp"

namespace pwpoly::binding {
namespace {

pthread_mutex_t creation_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t creation_finished = PTHREAD_COND_INITIALIZER;
// Cells that ever started a creation (guarded by creation_mutex).
OnceCell* registered_cells = nullptr;
bool fork_handler_installed = false;

std::uintptr_t current_thread() noexcept { return static_cast<std::uintptr_t>(pthread_self()); }

class CreationLock {
public:
    CreationLock() noexcept { pthread_mutex_lock(&creation_mutex); }
    CreationLock(const CreationLock&) = delete;
    CreationLock& operator=(const CreationLock&) = delete;
    ~CreationLock() { pthread_mutex_unlock(&creation_mutex); }
};

}  // namespace

// In a forked child only the forking thread exists: creations that other
// threads were running at the time of the fork will never finish, and the
// mutex may have been held by one of them. A creation of the forking thread
// itself goes on in the child.
void reset_creations_after_fork() noexcept {
    creation_mutex = PTHREAD_MUTEX_INITIALIZER;
    creation_finished = PTHREAD_COND_INITIALIZER;
    const std::uintptr_t self = current_thread();
    for (OnceCell* cell = registered_cells; cell != nullptr; cell = cell->next_registered_) {
        if (cell->creator_.load(std::memory_order_relaxed) != self) {
            cell->creator_.store(0, std::memory_order_relaxed);
        }
    }
}

OnceCell::Claim OnceCell::claim_creation() {
    const std::uintptr_t self = current_thread();
    for (;;) {
        std::uintptr_t creator = 0;
        {
            const CreationLock lock;
            if (!fork_handler_installed) {
                pthread_atfork(nullptr, nullptr, &reset_creations_after_fork);
                fork_handler_installed = true;
            }
            if (!registered_) {
                next_registered_ = registered_cells;
                registered_cells = this;
                registered_ = true;
            }
            if (PyObject* value = get()) {
                return {value, false};
            }
            creator = creator_.load(std::memory_order_relaxed);
            if (creator == 0) {
                creator_.store(self, std::memory_order_relaxed);
                return {nullptr, false};
            }
            if (creator == self) {
                return {nullptr, true};
            }
        }
        PyThreadState* state = python_support::release_lock();
        {
            const CreationLock lock;
            while (creator_.load(std::memory_order_relaxed) == creator && get() == nullptr) {
                pthread_cond_wait(&creation_finished, &creation_mutex);
            }
        }
        python_support::take_lock_back(state);
    }
}

void OnceCell::abandon_creation(const Claim& claim) noexcept {
    if (claim.nested) {
        return;
    }
    const CreationLock lock;
    creator_.store(0, std::memory_order_relaxed);
    pthread_cond_broadcast(&creation_finished);
}

PyObject* OnceCell::finish_creation(const Claim& claim, PyRef made) noexcept {
    PyObject* value = nullptr;
    {
        const CreationLock lock;
        value = get();
        if (value == nullptr) {
            value = made.release();
            value_.store(value, std::memory_order_release);
        }
        if (!claim.nested) {
            creator_.store(0, std::memory_order_relaxed);
        }
        pthread_cond_broadcast(&creation_finished);
    }
    // A value made by a creation that a nested one overtook is released here,
    // with the interpreter lock held and the mutex free.
    return value;
}

}  // namespace pwpoly::binding
