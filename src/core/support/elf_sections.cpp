// Finding the symbol table, the line tables and the build-id of an ELF file
// image, checking every header against the image's bounds.
#include "support/elf_sections.hpp"

#include <elf.h>
#include <link.h>

#include <bit>
#include <cstring>
#include <string_view>

namespace pwpoly {
namespace {

#if __SIZEOF_POINTER__ == 8
constexpr unsigned char own_class = ELFCLASS64;
#else
constexpr unsigned char own_class = ELFCLASS32;
#endif
constexpr unsigned char own_byte_order =
    std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;

// A record of type T at `offset`, copied out, since a file's offsets need not
// be aligned; false when it does not fit the image.
template <class T>
bool read_record(Bytes file, std::uint64_t offset, T& record) noexcept {
    if (offset > file.size() || file.size() - offset < sizeof(T)) {
        return false;
    }
    std::memcpy(&record, file.data() + offset, sizeof(T));
    return true;
}

// The bytes of a section, or empty when it has none in the file or they do
// not fit the image.
Bytes section_bytes(Bytes file, const ElfW(Shdr) & header) noexcept {
    if (header.sh_type == SHT_NOBITS || (header.sh_flags & SHF_COMPRESSED) != 0 ||
        header.sh_offset > file.size() || file.size() - header.sh_offset < header.sh_size) {
        return {};
    }
    return file.subspan(header.sh_offset, header.sh_size);
}

std::uint64_t round_up(std::uint64_t value, std::uint64_t alignment) noexcept {
    return (value + alignment - 1) / alignment * alignment;
}

}  // namespace

bool find_elf_sections(Bytes file, ElfSections& sections) noexcept {
    sections = {};
    ElfW(Ehdr) elf{};
    if (!read_record(file, 0, elf) || std::memcmp(elf.e_ident, ELFMAG, SELFMAG) != 0 ||
        elf.e_ident[EI_CLASS] != own_class || elf.e_ident[EI_DATA] != own_byte_order ||
        elf.e_shentsize != sizeof(ElfW(Shdr)) || elf.e_shoff == 0) {
        return false;
    }
    // Counts too large for the header live in the first section header.
    ElfW(Shdr) first{};
    if (!read_record(file, elf.e_shoff, first)) {
        return false;
    }
    const std::uint64_t count = elf.e_shnum != 0 ? elf.e_shnum : first.sh_size;
    const std::uint64_t names_index = elf.e_shstrndx != SHN_XINDEX ? elf.e_shstrndx : first.sh_link;
    if (count > (file.size() - elf.e_shoff) / sizeof(ElfW(Shdr))) {
        return false;
    }
    const auto header_at = [&](std::uint64_t index) {
        ElfW(Shdr) header{};
        (void)read_record(file, elf.e_shoff + index * sizeof(ElfW(Shdr)), header);
        return header;
    };
    const Bytes section_names =
        names_index < count ? section_bytes(file, header_at(names_index)) : Bytes{};
    for (std::uint64_t index = 0; index < count; ++index) {
        const ElfW(Shdr) header = header_at(index);
        const std::string_view name = string_at(section_names, header.sh_name);
        if (header.sh_type == SHT_SYMTAB && header.sh_link < count &&
            header.sh_entsize == sizeof(ElfW(Sym))) {
            sections.symbols = section_bytes(file, header);
            sections.symbol_names = section_bytes(file, header_at(header.sh_link));
        } else if (header.sh_type == SHT_NOTE && sections.build_id.empty()) {
            sections.build_id = find_build_id(section_bytes(file, header), header.sh_addralign);
        } else if (name == ".debug_line") {
            sections.line_programs = section_bytes(file, header);
        } else if (name == ".debug_line_str") {
            sections.line_strings = section_bytes(file, header);
        } else if (name == ".debug_str") {
            sections.strings = section_bytes(file, header);
        }
    }
    return true;
}

Bytes find_build_id(Bytes notes, std::uint64_t alignment) noexcept {
    alignment = alignment == 8 ? 8 : 4;
    ByteReader reader(notes);
    while (reader.remaining() >= 12) {
        const std::uint32_t name_size = reader.u32();
        const std::uint32_t descriptor_size = reader.u32();
        const std::uint32_t type = reader.u32();
        const Bytes name = reader.sub_range(round_up(name_size, alignment));
        const Bytes descriptor = reader.sub_range(round_up(descriptor_size, alignment));
        if (!reader.ok()) {
            return {};
        }
        if (type == NT_GNU_BUILD_ID && name_size == 4 && std::memcmp(name.data(), "GNU", 4) == 0) {
            return descriptor.first(descriptor_size);
        }
    }
    return {};
}

}  // namespace pwpoly
