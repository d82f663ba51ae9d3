// Finding and mapping, once per process, the ELF file of the object that
// holds this code.
#include "support/own_object_file.hpp"

#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

namespace pwpoly {
namespace {

// Where the object holding this code is loaded, as the dynamic loader says.
struct LoadedObject {
    const char* path = nullptr;  // "" for the main executable
    std::uintptr_t bias = 0;     // memory address less file address
    std::uintptr_t begin = 0;    // extent of the loaded segments
    std::uintptr_t end = 0;
    Bytes build_id;  // of the loaded image, from its note segments
};

int find_loaded_object(dl_phdr_info* info, std::size_t /*size*/, void* data) noexcept {
    auto& object = *static_cast<LoadedObject*>(data);
    const auto own_code = reinterpret_cast<std::uintptr_t>(&find_loaded_object);
    std::uintptr_t begin = UINTPTR_MAX;
    std::uintptr_t end = 0;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) & segment = info->dlpi_phdr[i];
        if (segment.p_type == PT_LOAD) {
            begin = std::min<std::uintptr_t>(begin, info->dlpi_addr + segment.p_vaddr);
            end =
                std::max<std::uintptr_t>(end, info->dlpi_addr + segment.p_vaddr + segment.p_memsz);
        }
    }
    if (own_code < begin || own_code >= end) {
        return 0;
    }
    object = {info->dlpi_name, info->dlpi_addr, begin, end, {}};
    for (ElfW(Half) i = 0; i < info->dlpi_phnum && object.build_id.empty(); ++i) {
        const ElfW(Phdr) & segment = info->dlpi_phdr[i];
        if (segment.p_type == PT_NOTE) {
            // The loader gives addresses as integers.
            const auto* notes = reinterpret_cast<const unsigned char*>(  // NOLINT(*-int-to-ptr)
                info->dlpi_addr + segment.p_vaddr);
            object.build_id = find_build_id(Bytes(notes, segment.p_memsz), segment.p_align);
        }
    }
    return 1;
}

// The object's file, mapped read-only for the rest of the process.
enum class Mapping { mapped, retry_later, unusable };

Mapping map_file(const char* path, Bytes& file) noexcept {
    const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return errno == EMFILE || errno == ENFILE || errno == ENOMEM ? Mapping::retry_later
                                                                     : Mapping::unusable;
    }
    struct stat status{};
    Mapping result = Mapping::unusable;
    if (::fstat(descriptor, &status) == 0 && status.st_size > 0) {
        const auto size = static_cast<std::size_t>(status.st_size);
        void* start = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
        if (start != MAP_FAILED) {
            file = Bytes(static_cast<const unsigned char*>(start), size);
            result = Mapping::mapped;
        } else if (errno == ENOMEM || errno == EAGAIN) {
            result = Mapping::retry_later;
        }
    }
    ::close(descriptor);
    return result;
}

enum class LoadState { not_loaded, ready, unusable };

std::mutex load_mutex;
std::atomic<LoadState> load_state{LoadState::not_loaded};
OwnObjectFile own_file;

LoadState load(OwnObjectFile& object) noexcept {
    LoadedObject loaded;
    if (dl_iterate_phdr(&find_loaded_object, &loaded) == 0) {
        return LoadState::unusable;
    }
    // The main executable has no name in the loader's list.
    const char* path =
        loaded.path != nullptr && loaded.path[0] != '\0' ? loaded.path : "/proc/self/exe";
    Bytes file;
    switch (map_file(path, file)) {
        case Mapping::mapped:
            break;
        case Mapping::retry_later:
            return LoadState::not_loaded;
        case Mapping::unusable:
            return LoadState::unusable;
    }
    // A file replaced since it was loaded would name the wrong code.
    if (!find_elf_sections(file, object.sections) ||
        !std::ranges::equal(object.sections.build_id, loaded.build_id)) {
        ::munmap(const_cast<unsigned char*>(file.data()), file.size());
        object.sections = {};
        return LoadState::unusable;
    }
    object.bias = loaded.bias;
    object.begin = loaded.begin;
    object.end = loaded.end;
    return LoadState::ready;
}

}  // namespace

const OwnObjectFile* own_object_file() noexcept {
    if (load_state.load(std::memory_order_acquire) == LoadState::ready) {
        return &own_file;
    }
    const std::unique_lock lock(load_mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        return nullptr;
    }
    if (load_state.load(std::memory_order_relaxed) == LoadState::not_loaded) {
        load_state.store(load(own_file), std::memory_order_release);
    }
    return load_state.load(std::memory_order_relaxed) == LoadState::ready ? &own_file : nullptr;
}

}  // namespace pwpoly
