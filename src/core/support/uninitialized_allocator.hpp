// An allocator whose value-initialisation leaves trivial elements
// uninitialised, for buffers that are overwritten right after they are sized.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace pwpoly {

/// std::allocator, except that resize() and the sized constructor leave
/// trivially constructible elements uninitialised instead of zeroing them.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };

    UninitializedAllocator() noexcept = default;
    template <class U>
    explicit UninitializedAllocator(const UninitializedAllocator<U>& /*other*/) noexcept {}

    template <class U>
    void construct(U* place) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(place)) U;
    }
    template <class U, class... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

}  // namespace pwpoly
