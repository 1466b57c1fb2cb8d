// The u35 sine, or sine and cosine, four doubles at a time. Built with -mavx;
// called only when the CPU has AVX. SLEEF picks its AVX, FMA4 or AVX2
// variant itself.
#include "vector_sine.hpp"

#include <sleef.h>

namespace puretone {

void vector_estimates_avx(const double* angles, double* sines, double* cosines, std::size_t count)
{
    for (std::size_t k = 0; k < count; k += 4) {
        const auto t = _mm256_loadu_pd(angles + k);
        if (cosines == nullptr) {
            _mm256_storeu_pd(sines + k, Sleef_sind4_u35(t));
            continue;
        }
        const auto both = Sleef_sincosd4_u35(t);
        _mm256_storeu_pd(sines + k, both.x);
        _mm256_storeu_pd(cosines + k, both.y);
    }
}

}  // namespace puretone
