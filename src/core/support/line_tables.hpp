// Mapping code addresses to source file, line and column with the DWARF line
// tables (.debug_line, versions 2 to 5) of an ELF file.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "support/elf_sections.hpp"

namespace pwpoly {

/// Where the line tables place one code address.
struct SourcePosition {
    std::string_view directory;  ///< as the table names it; empty for the compilation directory
    std::string_view file;       ///< empty when no table covers the address
    std::uint32_t line = 0;
    std::uint32_t column = 0;  ///< 0 when the table gives none
};

/// For each of `addresses` (in the file's own address layout), writes to the
/// same position of `found` the source position of the line-table row that
/// covers it: the row with the greatest address not above it, in a sequence
/// whose next row lies above it. Addresses no table covers get an empty
/// position. Reads `sections.line_programs` (names from `line_strings` and
/// `strings`) in one pass over every unit, whatever the number of addresses.
/// A unit that cannot be read is skipped, up to where its program fails; a
/// unit length that does not fit ends the pass with the positions found so
/// far. No allocation; the views point into the sections.
void find_source_positions(const ElfSections& sections, std::span<const std::uint64_t> addresses,
                           std::span<SourcePosition> found) noexcept;

}  // namespace pwpoly
