// Naming code addresses from an ELF symbol table.
#include "support/function_symbols.hpp"

#include <elf.h>
#include <link.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace pwpoly {
namespace {

// Addresses looked up in one pass over the tables.
constexpr std::size_t batch_size = 32;

void find_batch(Bytes symbols, Bytes names, std::span<const std::uint64_t> addresses,
                std::span<std::string_view> found) noexcept {
    // The size of the range of each name found so far, to keep the smallest.
    std::array<std::uint64_t, batch_size> best_size{};
    best_size.fill(std::numeric_limits<std::uint64_t>::max());
    const auto [lowest, highest] = std::minmax_element(addresses.begin(), addresses.end());

    for (std::size_t offset = 0; symbols.size() - offset >= sizeof(ElfW(Sym));
         offset += sizeof(ElfW(Sym))) {
        ElfW(Sym) symbol{};
        std::memcpy(&symbol, symbols.data() + offset, sizeof(symbol));
        // The type sits in the low four bits in both ELF classes.
        const unsigned type = ELF64_ST_TYPE(symbol.st_info);
        const std::uint64_t start = symbol.st_value;
        const std::uint64_t size = symbol.st_size;
        const bool function = (type == STT_FUNC || type == STT_GNU_IFUNC) &&
                              symbol.st_shndx != SHN_UNDEF && size != 0;
        // A range wholly above or below the addresses asked for needs no look.
        const bool outside = start > *highest || (*lowest >= start && *lowest - start >= size);
        if (!function || outside) {
            continue;
        }
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            if (addresses[i] - start < size && size < best_size[i]) {
                const std::string_view name = string_at(names, symbol.st_name);
                if (!name.empty()) {
                    found[i] = name;
                    best_size[i] = size;
                }
            }
        }
    }
}

}  // namespace

void find_function_names(Bytes symbols, Bytes names, std::span<const std::uint64_t> addresses,
                         std::span<std::string_view> found) noexcept {
    const std::size_t count = std::min(addresses.size(), found.size());
    std::fill_n(found.begin(), count, std::string_view{});
    for (std::size_t first = 0; first < count; first += batch_size) {
        const std::size_t size = std::min(batch_size, count - first);
        find_batch(symbols, names, addresses.subspan(first, size), found.subspan(first, size));
    }
}

}  // namespace pwpoly
