// Writing diagnostics to the standard-error file.
#include "support/standard_error.hpp"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace pwpoly {
namespace {

std::atomic<StandardErrorWriter> installed_writer{nullptr};

}  // namespace

void install_standard_error_writer(StandardErrorWriter writer) noexcept {
    installed_writer.store(writer, std::memory_order_release);
}

bool write_standard_error(std::string_view text, std::string_view first_note) noexcept {
    const StandardErrorWriter writer = installed_writer.load(std::memory_order_acquire);
    return writer != nullptr ? writer(text, first_note)
                             : write_standard_error_directly(text, first_note);
}

bool claim_first_note(std::string_view first_note) noexcept {
    static std::atomic<bool> note_written{false};
    return !first_note.empty() && !note_written.exchange(true);
}

bool write_standard_error_directly(std::string_view text, std::string_view first_note) noexcept {
    std::string joined;
    if (claim_first_note(first_note)) {
        try {
            joined = std::string(text) + std::string(first_note);
            text = joined;
        } catch (...) {  // NOLINT(bugprone-empty-catch)
            // Without memory for the joined text the note is left out.
        }
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace pwpoly
