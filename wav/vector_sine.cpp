// Chooses the vector sine for this CPU at run time, so one binary runs on any
// x86-64 and uses AVX or AVX-512 where they exist.
#include "vector_sine.hpp"

namespace puretone {

bool cpu_supports(vector_isa isa)
{
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
    return false;
}

vector_isa widest_vector_isa()
{
    static const vector_isa widest = cpu_supports(vector_isa::avx512f) ? vector_isa::avx512f
                                     : cpu_supports(vector_isa::avx)   ? vector_isa::avx
                                                                       : vector_isa::sse2;
    return widest;
}

void vector_estimates(vector_isa isa, trig_function function, const double* angles, double* estimates,
                      std::size_t count)
{
    switch (isa) {
    case vector_isa::sse2:
        return vector_estimates_sse2(function, angles, estimates, count);
    case vector_isa::avx:
        return vector_estimates_avx(function, angles, estimates, count);
    case vector_isa::avx512f:
        return vector_estimates_avx512f(function, angles, estimates, count);
    }
}

}  // namespace puretone
