// Raising internal failures and building the exact messages of the checks.
#include "support/failure.hpp"

#include "support/failure_report.hpp"
#include "support/text.hpp"

namespace pwpoly {

void fail(std::string message, std::source_location location) {
    if (!write_failure_report(message, location)) {
        throw ReportInterrupted(std::move(message), location);
    }
    throw InternalFailure(std::move(message), location);
}

void resume_failure(std::string message, std::source_location location) {
    throw InternalFailure(std::move(message), location);
}

void check_index(std::uint64_t index, std::uint64_t len, std::source_location location) {
    if (index >= len) {
        fail(concat("index out of bounds: the len is ", len, " but the index is ", index),
             location);
    }
}

void check_slice(std::uint64_t start, std::uint64_t end, std::uint64_t len,
                 std::source_location location) {
    if (end > len) {
        fail(concat("range end index ", end, " out of range for slice of length ", len), location);
    }
    if (start > end) {
        fail(concat("slice index starts at ", start, " but ends at ", end), location);
    }
}

void assert_equal(std::uint64_t left, std::uint64_t right, std::string_view message,
                  std::source_location location) {
    if (left == right) {
        return;
    }
    if (message.empty()) {
        fail(concat("assertion `left == right` failed\n  left: ", left, "\n right: ", right),
             location);
    }
    fail(concat("assertion `left == right` failed: ", message, "\n  left: ", left,
                "\n right: ", right),
         location);
}

}  // namespace pwpoly
