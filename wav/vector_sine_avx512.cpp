// The u35 sine and cosine eight doubles at a time. Built with -mavx512f;
// called only when the CPU has AVX-512F.
#include "vector_sine.hpp"

#include <sleef.h>

namespace puretone {

void estimate_sines_avx512f(const double* angles, double* estimates, std::size_t count)
{
    for (std::size_t k = 0; k < count; k += 8)
        _mm512_storeu_pd(estimates + k, Sleef_sind8_u35(_mm512_loadu_pd(angles + k)));
}

void estimate_cosines_avx512f(const double* angles, double* estimates, std::size_t count)
{
    for (std::size_t k = 0; k < count; k += 8)
        _mm512_storeu_pd(estimates + k, Sleef_cosd8_u35(_mm512_loadu_pd(angles + k)));
}

}  // namespace puretone
