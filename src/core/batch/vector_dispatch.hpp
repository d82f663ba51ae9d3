// Two copies of each batch kernel on x86-64, one for the baseline instruction
// set and one for AVX2, and the choice between them at run time.
#pragma once

/// On a kernel's AVX2 copy: the same source compiled for vectors of four
/// doubles (the baseline copy uses two per SSE2 vector). The results are the
/// same bits either way: the same IEEE operations lane by lane, with no
/// contraction into fused multiply-add (-ffp-contract=off, and AVX2 does not
/// enable FMA instructions). The copies are separate functions chosen by
/// processor_has_avx2() rather than compiler-made clones, whose dispatcher
/// GCC 12 marks as throwing nothing, so that a cancellation could not unwind
/// through it.
#if defined(__x86_64__) && defined(__GNUC__)
#define PWPOLY_AVX2_TARGET __attribute__((target("avx2")))
#else
#define PWPOLY_AVX2_TARGET
#endif

/// On a helper that a kernel calls, so that each copy of the kernel inlines
/// it and compiles it for its own instruction set.
#define PWPOLY_INLINE_IN_KERNEL [[gnu::always_inline]] inline

namespace pwpoly::batch {

/// Whether the processor (and the operating system) run AVX2 code.
[[nodiscard]] inline bool processor_has_avx2() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
    // GCC's builtin gives an int, Clang's a bool.
    // NOLINTNEXTLINE(readability-redundant-casting)
    static const bool has_avx2 = static_cast<bool>(__builtin_cpu_supports("avx2"));
    return has_avx2;
#else
    return false;
#endif
}

}  // namespace pwpoly::batch
