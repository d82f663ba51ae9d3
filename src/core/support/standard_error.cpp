// Writing diagnostics straight to the standard-error file.
#include "support/standard_error.hpp"

#include <unistd.h>

#include <cerrno>

namespace pwpoly {

void write_standard_error(std::string_view text) noexcept {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        written += static_cast<std::size_t>(n);
    }
}

}  // namespace pwpoly
