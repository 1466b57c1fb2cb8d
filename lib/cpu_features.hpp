// Which copy of the sine kernel's loop this CPU runs: the widest vectors it
// and its operating system support. Every copy gives the same bits (the
// kernel's contract, sine_kernel.hpp); the choice changes speed only.
//
// Asked afresh on each call, a few loads and compares a block of 256
// samples: no cached answer, so no state and no once-only lock.
#pragma once

namespace puretone {

#if defined(__x86_64__)
enum class kernel_isa { baseline, avx2_fma, avx512_fma };
#elif defined(__aarch64__)
enum class kernel_isa { baseline, sve };
#endif

#if defined(__x86_64__) || defined(__aarch64__)
kernel_isa widest_kernel_isa();
#endif

}  // namespace puretone
