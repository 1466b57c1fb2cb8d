// The u35 sine and cosine two doubles at a time. SLEEF picks its SSE2,
// SSE4.1 or AVX2-on-128-bit variant itself; all keep the same bound.
#include "vector_sine.hpp"

#include <sleef.h>

namespace puretone {

void vector_estimates_sse2(trig_function function, const double* angles, double* estimates,
                           std::size_t count)
{
    for (std::size_t k = 0; k < count; k += 2) {
        const auto t = _mm_loadu_pd(angles + k);
        const auto estimate = function == trig_function::sine ? Sleef_sind2_u35(t) : Sleef_cosd2_u35(t);
        _mm_storeu_pd(estimates + k, estimate);
    }
}

}  // namespace puretone
