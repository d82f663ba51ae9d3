// The standard-error report of an internal failure. Backtraces come from
// glibc's backtrace() with symbol names demangled where the dynamic symbol
// table knows them; frames of this module (whose symbols are hidden) show as
// object and offset.
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
#include "support/text.hpp"

namespace pwpoly {
namespace {

constexpr int max_frames = 128;

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

void append_backtrace(std::string& report, bool full) {
    std::array<void*, max_frames> frames{};
    const int count = backtrace(frames.data(), max_frames);
    const char* own = own_object();
    report += "stack backtrace:\n";
    int shown = 0;
    for (int i = 0; i < count; ++i) {
        Dl_info info{};
        const bool known = dladdr(frames[static_cast<std::size_t>(i)], &info) != 0;
        const char* object = known && info.dli_fname != nullptr ? info.dli_fname : "??";
        if (!full && (own == nullptr || std::strcmp(object, own) != 0)) {
            continue;
        }
        const auto address = reinterpret_cast<std::uintptr_t>(frames[static_cast<std::size_t>(i)]);
        const auto base = reinterpret_cast<std::uintptr_t>(known ? info.dli_fbase : nullptr);
        std::array<char, 32> offset{};
        std::snprintf(offset.data(), offset.size(), "0x%zx",
                      static_cast<std::size_t>(address - base));
        report += concat("  ", shown < 10 ? " " : "", shown, ": ");
        report += known && info.dli_sname != nullptr ? demangled(info.dli_sname) : "<unknown>";
        report += concat("\n             at ", object, " +", std::string_view(offset.data()), "\n");
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
    static std::atomic<bool> note_written{false};
    const long thread_id = syscall(SYS_gettid);
    std::string report = concat("\nthread '<unnamed>' (", thread_id, ") panicked at ",
                                std::string_view(location.file_name()), ":", location.line(), ":",
                                location.column(), ":\n", message, "\n");
    switch (process_backtrace_style()) {
        case BacktraceStyle::note_once:
            if (!note_written.exchange(true)) {
                report +=
                    "note: run with `PWPOLY_BACKTRACE=1` environment variable to display a "
                    "backtrace\n";
            }
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

void write_failure_report(std::string_view message, const std::source_location& location) noexcept {
    try {
        write_standard_error(format_failure_report(message, location));
    } catch (...) {  // NOLINT(bugprone-empty-catch)
        // Without memory for the text there is no report; the failure itself
        // still travels to the caller.
    }
}

void abort_with_report(std::string_view message, const std::source_location& location) noexcept {
    write_failure_report(message, location);
    std::abort();
}

}  // namespace pwpoly
