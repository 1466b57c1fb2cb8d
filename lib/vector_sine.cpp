// Chooses the vector sine for this CPU at run time, so one binary runs on any
// CPU of its architecture and uses the widest vectors it has: on x86-64 AVX
// or AVX-512, on AArch64 SVE.
#include "vector_sine.hpp"

#if defined(__aarch64__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace puretone {

bool cpu_supports(vector_isa isa)
{
#if defined(__x86_64__)
    // GCC's checks include the operating system's support for the wider
    // register state (XGETBV), not just the CPUID bits.
    __builtin_cpu_init();
    switch (isa) {
    case vector_isa::sse2:
        return true;  // part of x86-64 itself
    case vector_isa::avx:
        return __builtin_cpu_supports("avx");
    case vector_isa::avx512f:
        return __builtin_cpu_supports("avx512f");
    }
#elif defined(__aarch64__)
    switch (isa) {
    case vector_isa::advsimd:
        return true;  // part of AArch64 itself
    case vector_isa::sve:
        return (getauxval(AT_HWCAP) & HWCAP_SVE) != 0;  // the kernel sets it once it enables SVE
    }
#endif
    return false;
}

vector_isa widest_vector_isa()
{
#if defined(__x86_64__)
    static const vector_isa widest = cpu_supports(vector_isa::avx512f) ? vector_isa::avx512f
                                     : cpu_supports(vector_isa::avx)   ? vector_isa::avx
                                                                       : vector_isa::sse2;
#elif defined(__aarch64__)
    static const vector_isa widest = cpu_supports(vector_isa::sve) ? vector_isa::sve : vector_isa::advsimd;
#endif
    return widest;
}

void vector_estimates(vector_isa isa, const double* angles, double* sines, double* cosines, std::size_t count)
{
    switch (isa) {
#if defined(__x86_64__)
    case vector_isa::sse2:
        return vector_estimates_sse2(angles, sines, cosines, count);
    case vector_isa::avx:
        return vector_estimates_avx(angles, sines, cosines, count);
    case vector_isa::avx512f:
        return vector_estimates_avx512f(angles, sines, cosines, count);
#elif defined(__aarch64__)
    case vector_isa::advsimd:
        return vector_estimates_advsimd(angles, sines, cosines, count);
    case vector_isa::sve:
        return vector_estimates_sve(angles, sines, cosines, count);
#endif
    }
}

}  // namespace puretone
