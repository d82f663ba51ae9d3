// Naming the code of this module for backtraces: function names from the
// symbol table and source positions from the line tables of the module's own
// file, which is read once per process.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "support/line_tables.hpp"

namespace pwpoly {

/// What the module's file says about one code address.
struct FrameSymbol {
    std::string_view function;  ///< mangled name; empty when unknown
    SourcePosition position;    ///< position.file is empty when unknown
};

/// For each code address of `addresses` that lies in the object holding this
/// code (the shared library, or the executable it is linked into), writes its
/// function and source position to the same position of `found`; other
/// addresses get empty results. Give the address of an instruction: for a
/// return address, one less, so that a call that ends its function (as calls
/// that never return may) is named after that function.
///
/// The object's file is mapped read-only at the first call and kept for the
/// process (see own_object_file() for when it cannot be used: then every
/// result is empty), and the last 128 results are kept, so that failures
/// that come back to the same places read the tables once. Never waits,
/// never allocates from the heap, never throws.
void symbolize_own_code(std::span<const std::uintptr_t> addresses,
                        std::span<FrameSymbol> found) noexcept;

}  // namespace pwpoly
