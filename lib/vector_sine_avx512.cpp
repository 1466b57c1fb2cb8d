// The u35 sine, or sine and cosine, eight doubles at a time. Built with
// -mavx512f; called only when the CPU has AVX-512F.
#include "vector_sine.hpp"

#include <sleef.h>

namespace puretone {

void vector_estimates_avx512f(const double* angles, double* sines, double* cosines, std::size_t count)
{
    for (std::size_t k = 0; k < count; k += 8) {
        const auto t = _mm512_loadu_pd(angles + k);
        if (cosines == nullptr) {
            _mm512_storeu_pd(sines + k, Sleef_sind8_u35(t));
            continue;
        }
        const auto both = Sleef_sincosd8_u35(t);
        _mm512_storeu_pd(sines + k, both.x);
        _mm512_storeu_pd(cosines + k, both.y);
    }
}

}  // namespace puretone
