// Writing failure reports to the standard-error file without ever blocking the
// interpreter.
#pragma once

#include <Python.h>

#include <string_view>

namespace pwpoly::python_support {

/// Writes `text` to file descriptor 2 in one write() where the system allows
/// it, reports of other threads never landing inside it. A full pipe makes a
/// write wait; a thread that holds the interpreter lock (`lock_held`) releases
/// it meanwhile, so that other threads go on (a thread that drains the pipe
/// among them). A signal that interrupts the write (EINTR) runs the signal
/// handlers when the lock is held; a handler that raises abandons the rest of
/// the text and its exception is kept for take_report_interruption. Without
/// the lock the handlers cannot run, so the rest of the text is abandoned at
/// once and the caller runs them when it has the lock again.
/// Returns false when the text was abandoned, true otherwise (a write error
/// other than EINTR ends the text quietly: there is nowhere to report it).
/// `first_note` follows the text if it is the first of this extension's
/// reports to be written with a note (decided as the write starts, so the
/// note follows the first report that appears).
[[nodiscard]] bool write_report(std::string_view text, std::string_view first_note,
                                bool lock_held) noexcept;

/// Keeps the pending exception (which a signal handler raised while a report
/// was written) as this thread's report interruption, clearing it. Needs the
/// lock.
void keep_report_interruption() noexcept;

/// Sets the exception that a signal handler raised while a report of this
/// thread was written as the pending exception, and forgets it; false if
/// there is none. Needs the lock.
[[nodiscard]] bool restore_report_interruption() noexcept;

}  // namespace pwpoly::python_support
