// Looking code addresses of this module up in the symbol and line tables of
// its own file, with the results kept for the failures that come back to the
// same places.
#include "support/symbolizer.hpp"

#include <algorithm>
#include <array>
#include <mutex>

#include "support/function_symbols.hpp"
#include "support/own_object_file.hpp"

namespace pwpoly {
namespace {

// Addresses looked up in one pass over the tables.
constexpr std::size_t batch_size = 32;

// Results of earlier look-ups, by address in the file's layout; the views
// point into the file, which stays mapped. Entries are replaced in turn.
struct CachedSymbol {
    std::uint64_t address = 0;
    FrameSymbol symbol;
};
constexpr std::size_t cache_size = 128;

struct SymbolCache {
    std::mutex mutex;
    std::array<CachedSymbol, cache_size> entries{};
    std::size_t used = 0;
    std::size_t next = 0;

    [[nodiscard]] const FrameSymbol* find(std::uint64_t address) const noexcept {
        for (std::size_t i = 0; i < used; ++i) {
            if (entries[i].address == address) {
                return &entries[i].symbol;
            }
        }
        return nullptr;
    }
    void add(std::uint64_t address, const FrameSymbol& symbol) noexcept {
        entries[next] = {address, symbol};
        next = (next + 1) % cache_size;
        used = std::max(used, next == 0 ? cache_size : next);
    }
};

SymbolCache cache;

// Looks up addresses in the file's layout (at most a batch) and writes the
// result for file_addresses[j] to found[positions[j]], and to the cache when
// `cached` is true.
void look_up(const OwnObjectFile& file, std::span<const std::uint64_t> file_addresses,
             std::span<const std::size_t> positions, std::span<FrameSymbol> found,
             bool cached) noexcept {
    std::array<std::string_view, batch_size> names{};
    std::array<SourcePosition, batch_size> sources{};
    const std::size_t count = file_addresses.size();
    find_function_names(file.sections.symbols, file.sections.symbol_names, file_addresses,
                        std::span(names.data(), count));
    find_source_positions(file.sections, file_addresses, std::span(sources.data(), count));
    for (std::size_t j = 0; j < count; ++j) {
        found[positions[j]] = {names[j], sources[j]};
        if (cached) {
            cache.add(file_addresses[j], found[positions[j]]);
        }
    }
}

}  // namespace

void symbolize_own_code(std::span<const std::uintptr_t> addresses,
                        std::span<FrameSymbol> found) noexcept {
    const std::size_t count = std::min(addresses.size(), found.size());
    std::fill_n(found.begin(), count, FrameSymbol{});
    const OwnObjectFile* file = own_object_file();
    if (file == nullptr) {
        return;
    }
    // Another thread using the cache is not waited for: this call then reads
    // the tables without it.
    const std::unique_lock cache_lock(cache.mutex, std::try_to_lock);
    const bool cached = cache_lock.owns_lock();
    // Addresses of this object that the cache lacks, gathered in batches;
    // each batch is one pass over the tables.
    std::array<std::uint64_t, batch_size> file_addresses{};
    std::array<std::size_t, batch_size> positions{};
    std::size_t gathered = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (addresses[i] >= file->begin && addresses[i] < file->end) {
            const std::uint64_t address = addresses[i] - file->bias;
            const FrameSymbol* known = cached ? cache.find(address) : nullptr;
            if (known != nullptr) {
                found[i] = *known;
            } else {
                file_addresses[gathered] = address;
                positions[gathered] = i;
                ++gathered;
            }
        }
        if (gathered == batch_size || (i + 1 == count && gathered != 0)) {
            look_up(*file, std::span(file_addresses.data(), gathered),
                    std::span(positions.data(), gathered), found, cached);
            gathered = 0;
        }
    }
}

}  // namespace pwpoly
