// The standard-error report written when an internal failure happens, with a
// backtrace chosen by the PWPOLY_BACKTRACE environment variable.
#pragma once

#include <source_location>
#include <string>
#include <string_view>

namespace pwpoly {

/// How much backtrace the report prints; read from PWPOLY_BACKTRACE at the
/// first failure of the process and kept: unset or "0" prints a one-line note
/// after the first failure only, "full" every frame, anything else the frames
/// of this module.
enum class BacktraceStyle { note_once, short_frames, full_frames };

/// Maps a value of PWPOLY_BACKTRACE (nullptr when unset) to its style.
[[nodiscard]] BacktraceStyle backtrace_style_from(const char* value) noexcept;

/// Builds the report text:
/// "\nthread '<unnamed>' ({tid}) panicked at {file}:{line}:{column}:\n{message}\n"
/// followed by the backtrace of the style (the note of the default style is
/// added by write_failure_report to the first report written).
[[nodiscard]] std::string format_failure_report(std::string_view message,
                                                const std::source_location& location);

/// Writes the report to standard error in one write, so that reports of
/// failures on several threads never interleave, through the installed
/// standard-error writer. False when the writer abandoned the report because
/// the host wants the computation to stop (see ReportInterrupted).
[[nodiscard]] bool write_failure_report(std::string_view message,
                                        const std::source_location& location) noexcept;

/// Writes the report for a failure that cannot be reported to Python and ends
/// the process.
[[noreturn]] void abort_with_report(
    std::string_view message,
    const std::source_location& location = std::source_location::current()) noexcept;

}  // namespace pwpoly
