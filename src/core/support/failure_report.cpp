// The standard-error report of an internal failure. Backtraces come from
// glibc's backtrace(); frames of this module are named from its own symbol
// and line tables (its symbols are hidden from the dynamic symbol table),
// other frames by the dynamic loader, names demangled. A frame nothing names
// shows as object and offset.
#include "support/failure_report.hpp"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "support/standard_error.hpp"
#include "support/symbolizer.hpp"
#include "support/text.hpp"

namespace pwpoly {
namespace {

constexpr int max_frames = 128;

constexpr std::string_view backtrace_note =
    "note: run with `PWPOLY_BACKTRACE=1` environment variable to display a backtrace\n";

BacktraceStyle process_backtrace_style() noexcept {
    // Read once, at the first failure, and kept for the process.
    static const BacktraceStyle style = backtrace_style_from(std::getenv("PWPOLY_BACKTRACE"));
    return style;
}

std::string demangled(const char* name) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> text(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return status == 0 && text ? std::string(text.get()) : std::string(name);
}

// The shared object that holds this file's code, to tell our frames apart.
const char* own_object() noexcept {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&own_object), &info) != 0) {
        return info.dli_fname;
    }
    return nullptr;
}

// The "at" line of a frame: source position when the line tables give one,
// else object and offset.
void append_frame_place(std::string& report, const FrameSymbol& symbol, const char* object,
                        std::uintptr_t offset) {
    const SourcePosition& position = symbol.position;
    report += "             at ";
    if (position.file.empty()) {
        std::array<char, 32> text{};
        std::snprintf(text.data(), text.size(), "0x%zx", static_cast<std::size_t>(offset));
        report += concat(std::string_view(object), " +", std::string_view(text.data()), "\n");
        return;
    }
    if (!position.directory.empty()) {
        report += concat(position.directory, "/");
    }
    report += concat(position.file, ":", position.line);
    if (position.column != 0) {
        report += concat(":", position.column);
    }
    report += '\n';
}

void append_backtrace(std::string& report, bool full) {
    std::array<void*, max_frames> frames{};
    const int count = backtrace(frames.data(), max_frames);
    // Each frame's return address less one lies in the call instruction, so
    // that a call ending its function is named after that function.
    std::array<std::uintptr_t, max_frames> calls{};
    for (int i = 0; i < count; ++i) {
        calls[static_cast<std::size_t>(i)] =
            reinterpret_cast<std::uintptr_t>(frames[static_cast<std::size_t>(i)]) - 1;
    }
    std::array<FrameSymbol, max_frames> symbols{};
    symbolize_own_code(std::span(calls.data(), static_cast<std::size_t>(count)), symbols);
    const char* own = own_object();
    report += "stack backtrace:\n";
    int shown = 0;
    for (int i = 0; i < count; ++i) {
        const auto frame = static_cast<std::size_t>(i);
        Dl_info info{};
        const bool known = dladdr(frames[frame], &info) != 0;
        const char* object = known && info.dli_fname != nullptr ? info.dli_fname : "??";
        if (!full && (own == nullptr || std::strcmp(object, own) != 0)) {
            continue;
        }
        const auto base = reinterpret_cast<std::uintptr_t>(known ? info.dli_fbase : nullptr);
        report += concat("  ", shown < 10 ? " " : "", shown, ": ");
        if (!symbols[frame].function.empty()) {
            // Names from the symbol table end with a NUL in place.
            // NOLINTNEXTLINE(bugprone-suspicious-stringview-data-usage)
            report += demangled(symbols[frame].function.data());
        } else {
            report += known && info.dli_sname != nullptr ? demangled(info.dli_sname) : "<unknown>";
        }
        report += '\n';
        append_frame_place(report, symbols[frame], object,
                           reinterpret_cast<std::uintptr_t>(frames[frame]) - base);
        ++shown;
    }
    if (!full) {
        report +=
            "note: Some details are omitted, run with `PWPOLY_BACKTRACE=full` for a verbose "
            "backtrace.\n";
    }
}

}  // namespace

BacktraceStyle backtrace_style_from(const char* value) noexcept {
    if (value == nullptr || std::strcmp(value, "0") == 0) {
        return BacktraceStyle::note_once;
    }
    if (std::strcmp(value, "full") == 0) {
        return BacktraceStyle::full_frames;
    }
    return BacktraceStyle::short_frames;
}

std::string format_failure_report(std::string_view message, const std::source_location& location) {
    const long thread_id = syscall(SYS_gettid);
    std::string report = concat("\nthread '<unnamed>' (", thread_id, ") panicked at ",
                                std::string_view(location.file_name()), ":", location.line(), ":",
                                location.column(), ":\n", message, "\n");
    switch (process_backtrace_style()) {
        case BacktraceStyle::note_once:
            // The note follows the first report written (write_failure_report).
            break;
        case BacktraceStyle::short_frames:
            append_backtrace(report, false);
            break;
        case BacktraceStyle::full_frames:
            append_backtrace(report, true);
            break;
    }
    return report;
}

bool write_failure_report(std::string_view message, const std::source_location& location) noexcept {
    try {
        const bool with_note = process_backtrace_style() == BacktraceStyle::note_once;
        return write_standard_error(format_failure_report(message, location),
                                    with_note ? backtrace_note : std::string_view());
    } catch (...) {
        // Without memory for the text there is no report; the failure itself
        // still travels to the caller.
        return true;
    }
}

void abort_with_report(std::string_view message, const std::source_location& location) noexcept {
    // Whether or not the report was cut short, the process ends.
    (void)write_failure_report(message, location);
    std::abort();
}

}  // namespace pwpoly
