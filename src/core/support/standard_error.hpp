// Writing diagnostics to the standard-error file, through a writer that the
// host may install.
#pragma once

#include <string_view>

namespace pwpoly {

/// A writer of diagnostics: writes all of `text` to file descriptor 2,
/// followed by `first_note` if no text of this writer was written before it
/// with a note (the decision and the write are one step, so the note follows
/// the first text that appears, whichever thread wrote it). Abandons the rest
/// and returns false when the host wants the current computation to stop (a
/// signal handler that raised while the write waited).
using StandardErrorWriter = bool (*)(std::string_view text, std::string_view first_note) noexcept;

/// Installs the writer that write_standard_error uses (nullptr: the plain
/// one, write_standard_error_directly, the initial state). Process-wide for
/// the library that holds this core.
void install_standard_error_writer(StandardErrorWriter writer) noexcept;

/// Writes `text` (and `first_note`, see StandardErrorWriter) through the
/// installed writer; false when it was abandoned.
[[nodiscard]] bool write_standard_error(std::string_view text,
                                        std::string_view first_note = {}) noexcept;

/// The plain writer: all of `text` (with `first_note` after the first text
/// that asks for it, process-wide) to file descriptor 2, in as few write()
/// calls as the system allows (one, normally), so that texts written by
/// several threads do not interleave; a write interrupted by a signal is
/// repeated. Errors are ignored: there is nowhere left to report them. Always
/// true.
bool write_standard_error_directly(std::string_view text, std::string_view first_note) noexcept;

/// Whether `first_note` goes with this text: true once per process (per
/// writer that calls it), for the first caller with a note.
[[nodiscard]] bool claim_first_note(std::string_view first_note) noexcept;

}  // namespace pwpoly
