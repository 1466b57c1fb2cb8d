// The u35 sine and cosine eight doubles at a time. Built with -mavx512f;
// called only when the CPU has AVX-512F.
#include "vector_sine.hpp"

#include <sleef.h>

namespace puretone {

void vector_estimates_avx512f(trig_function function, const double* angles, double* estimates,
                              std::size_t count)
{
    for (std::size_t k = 0; k < count; k += 8) {
        const auto t = _mm512_loadu_pd(angles + k);
        const auto estimate = function == trig_function::sine ? Sleef_sind8_u35(t) : Sleef_cosd8_u35(t);
        _mm512_storeu_pd(estimates + k, estimate);
    }
}

}  // namespace puretone
