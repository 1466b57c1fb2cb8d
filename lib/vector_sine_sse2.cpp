// The u35 sine, or sine and cosine, two doubles at a time. SLEEF picks its
// SSE2, SSE4.1 or AVX2-on-128-bit variant itself; all keep the same bound.
#include "vector_sine.hpp"

#include <sleef.h>

namespace puretone {

void vector_estimates_sse2(const double* angles, double* sines, double* cosines, std::size_t count)
{
    for (std::size_t k = 0; k < count; k += 2) {
        const auto t = _mm_loadu_pd(angles + k);
        if (cosines == nullptr) {
            _mm_storeu_pd(sines + k, Sleef_sind2_u35(t));
            continue;
        }
        const auto both = Sleef_sincosd2_u35(t);
        _mm_storeu_pd(sines + k, both.x);
        _mm_storeu_pd(cosines + k, both.y);
    }
}

}  // namespace puretone
