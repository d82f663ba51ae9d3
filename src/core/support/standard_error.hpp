// Writing diagnostics straight to the standard-error file.
#pragma once

#include <string_view>

namespace pwpoly {

/// Writes all of `text` to file descriptor 2, in as few write() calls as the
/// system allows (one, normally), so that texts written by several threads do
/// not interleave. Errors are ignored: there is nowhere left to report them.
void write_standard_error(std::string_view text) noexcept;

}  // namespace pwpoly
