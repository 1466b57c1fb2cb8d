// The u35 sine and cosine two doubles at a time. SLEEF picks its SSE2,
// SSE4.1 or AVX2-on-128-bit variant itself; all keep the same bound.
#include "vector_sine.hpp"

#include <sleef.h>

namespace puretone {

void estimate_sines_sse2(const double* angles, double* estimates, std::size_t count)
{
    for (std::size_t k = 0; k < count; k += 2)
        _mm_storeu_pd(estimates + k, Sleef_sind2_u35(_mm_loadu_pd(angles + k)));
}

void estimate_cosines_sse2(const double* angles, double* estimates, std::size_t count)
{
    for (std::size_t k = 0; k < count; k += 2)
        _mm_storeu_pd(estimates + k, Sleef_cosd2_u35(_mm_loadu_pd(angles + k)));
}

}  // namespace puretone
