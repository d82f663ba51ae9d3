// The internal-failure type of the numerics core and the one-line checks that
// raise it with their exact messages.
#pragma once

#include <cstdint>
#include <exception>
#include <source_location>
#include <string>
#include <string_view>

namespace pwpoly {

/// A failed internal consistency check. Carries the message that reaches
/// Python unchanged and the source location of the failing check, which is
/// used only for the standard-error report.
class InternalFailure : public std::exception {
public:
    InternalFailure(std::string message, std::source_location location)
        : message_(std::move(message)), location_(location) {}

    [[nodiscard]] const std::string& message() const noexcept { return message_; }
    [[nodiscard]] const std::source_location& location() const noexcept { return location_; }
    [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
    std::source_location location_;
};

/// An internal failure whose standard-error report the host cut short because
/// it wants the computation to stop (a signal handler raised while the report
/// waited to be written): the host reports its own reason in the failure's
/// place, and the message only where it has none.
class ReportInterrupted : public InternalFailure {
public:
    using InternalFailure::InternalFailure;
};

/// Writes the standard-error report for `message` at `location` and throws
/// InternalFailure (ReportInterrupted if the report was cut short). Every
/// failing check of the core ends here.
[[noreturn]] void fail(std::string message,
                       std::source_location location = std::source_location::current());

/// Throws InternalFailure without writing a report: used when a failure that
/// was already reported (for example one that came back through Python code)
/// continues on its way to the entry guard.
[[noreturn]] void resume_failure(std::string message,
                                 std::source_location location = std::source_location::current());

/// Fails with "{message}" unless `condition` holds.
inline void check(bool condition, std::string_view message,
                  std::source_location location = std::source_location::current()) {
    if (!condition) {
        fail(std::string(message), location);
    }
}

/// Fails with "index out of bounds: the len is {len} but the index is {index}"
/// unless index < len.
void check_index(std::uint64_t index, std::uint64_t len,
                 std::source_location location = std::source_location::current());

/// Checks the half-open range [start, end) against a vector of length `len`,
/// in the order: end beyond the vector, start after end.
void check_slice(std::uint64_t start, std::uint64_t end, std::uint64_t len,
                 std::source_location location = std::source_location::current());

/// Equality assertion: fails with
/// "assertion `left == right` failed\n  left: {left}\n right: {right}", or with
/// "assertion `left == right` failed: {message}\n  left: ...\n right: ..." when
/// a message is given.
void assert_equal(std::uint64_t left, std::uint64_t right, std::string_view message = {},
                  std::source_location location = std::source_location::current());

/// The message of a size that does not fit the size policy.
inline constexpr std::string_view capacity_overflow_message = "capacity overflow";

}  // namespace pwpoly
