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

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#endif

namespace pwpoly::batch {

#if defined(__x86_64__) && defined(__GNUC__)
/// Asks the processor itself: AVX2 needs the instructions (CPUID leaf 7) and
/// an operating system that saves the YMM registers on a context switch
/// (OSXSAVE and AVX in leaf 1, then XMM and YMM state enabled in XCR0).
/// __builtin_cpu_supports would ask the compiler's runtime library instead,
/// whose __cpu_model exists in GCC's libgcc but not in every static runtime
/// (zig's compiler-rt has none, and the module would not load).
[[nodiscard]] inline bool query_processor_avx2() noexcept {
    constexpr unsigned xmm_and_ymm_state = 0x6U;
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid_max(0, nullptr) < 7 || __get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) {
        return false;
    }
    unsigned xcr0_low = 0;
    unsigned xcr0_high = 0;
    __asm__("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0U));
    if ((xcr0_low & xmm_and_ymm_state) != xmm_and_ymm_state) {
        return false;
    }
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return (ebx & bit_AVX2) != 0;
}
#endif

/// Whether the processor (and the operating system) run AVX2 code; asked once.
[[nodiscard]] inline bool processor_has_avx2() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool has_avx2 = query_processor_avx2();
    return has_avx2;
#else
    return false;
#endif
}

}  // namespace pwpoly::batch
