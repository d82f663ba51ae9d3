// Turning the C++ exception of a failed entry into one Python exception.
#include "entry_guard.hpp"

#include <new>

#include "python_error.hpp"
#include "report_writer.hpp"
#include "support/failure.hpp"
#include "support/failure_report.hpp"

namespace pwpoly::binding {

void abort_uncaught_panic() noexcept { abort_with_report("uncaught panic at ffi boundary"); }

void set_exception_from_current() noexcept {
    try {
        try {
            throw;
        } catch (const PythonError& error) {
            error.restore();
        } catch (const PythonInterrupt& interrupt) {
            interrupt.error().restore();
        } catch (const ReportInterrupted& failure) {
            // A signal handler raised while the failure's report was written:
            // its exception takes the failure's place.
            if (!python_support::restore_report_interruption()) {
                raise_panic_exception(failure.message());
            }
        } catch (const InternalFailure& failure) {
            raise_panic_exception(failure.message());
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (...) {
            raise_panic_exception("native code failed without a message");
        }
    } catch (...) {
        abort_uncaught_panic();
    }
}

}  // namespace pwpoly::binding
