// The ELF file of the object that holds this code (the shared library, or the
// executable the core is linked into), found through the dynamic loader and
// mapped once per process, for the backtrace symbolizer.
#pragma once

#include <cstdint>

#include "support/elf_sections.hpp"

namespace pwpoly {

/// The object's file as the symbolizer reads it.
struct OwnObjectFile {
    ElfSections sections;      ///< views into the file, mapped read-only for good
    std::uintptr_t bias = 0;   ///< address in memory less address in the file
    std::uintptr_t begin = 0;  ///< extent in memory of the object's loaded segments
    std::uintptr_t end = 0;
};

/// The object's file, mapped and its sections found at the first call, or
/// nullptr when it cannot be used. A file that is missing, malformed or not
/// the one loaded (its build-id differs, say after a reinstall) gives nullptr
/// for good; a failure for want of memory or file descriptors, or a call while
/// another thread is mapping the file, gives nullptr this time only. Never
/// waits, never allocates from the heap, never throws.
[[nodiscard]] const OwnObjectFile* own_object_file() noexcept;

}  // namespace pwpoly
