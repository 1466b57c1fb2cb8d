// The CPU's vector features, as the kernel's loop copies need them.
#include "cpu_features.hpp"

#if defined(__aarch64__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace puretone {

#if defined(__x86_64__)
kernel_isa widest_kernel_isa()
{
    // GCC's checks include the operating system's support for the wider
    // register state (XGETBV), not just the CPUID bits. The model they read
    // is filled once by the runtime's constructor; init only confirms it.
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("fma"))
        return kernel_isa::baseline;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq")
        && __builtin_cpu_supports("avx512vl"))
        return kernel_isa::avx512_fma;
    return __builtin_cpu_supports("avx2") ? kernel_isa::avx2_fma : kernel_isa::baseline;
}
#elif defined(__aarch64__)
kernel_isa widest_kernel_isa()
{
    // The kernel sets HWCAP_SVE once it has enabled SVE for processes.
    return (getauxval(AT_HWCAP) & HWCAP_SVE) != 0 ? kernel_isa::sve : kernel_isa::baseline;
}
#endif

}  // namespace puretone
