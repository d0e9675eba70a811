#pragma once
// ADVDIFF_WIDE_KERNEL marks a function compiled twice, for the baseline instruction set and for
// AVX2, with everything it calls inlined into each copy; the loader picks the AVX2 copy where the
// processor has it. Both copies do the same IEEE operations in the same order and none is fused
// (AVX2 does not enable FMA, and contraction is off), so both give the same bits; the wider
// registers and three-operand forms make the memory-bound passes faster. Compilers and systems
// that cannot dispatch at load time (clang, Windows, other processors) get the baseline copy only.

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__)
#define ADVDIFF_WIDE_KERNEL [[gnu::flatten, gnu::target_clones("avx2", "default")]]
#else
#define ADVDIFF_WIDE_KERNEL
#endif

#include <cstddef>

namespace advdiff::platform {

// Asks for the cache line of each array's entry `at` (a hint: no effect on any value, no fault on
// any address). Passes that stream more arrays than the processor's own prefetching follows well
// ask for lines a few KiB ahead of where they read.
template <class... P>
inline void prefetch(std::ptrdiff_t at, const P*... arrays) {
#if defined(__GNUC__) || defined(__clang__)
    (__builtin_prefetch(arrays + at), ...);
#endif
}

}  // namespace advdiff::platform
