// The u35 sine and cosine four doubles at a time. Built with -mavx; called
// only when the CPU has AVX. SLEEF picks its AVX, FMA4 or AVX2 variant itself.
#include "vector_sine.hpp"

#include <sleef.h>

namespace puretone {

void vector_estimates_avx(trig_function function, const double* angles, double* estimates,
                          std::size_t count)
{
    for (std::size_t k = 0; k < count; k += 4) {
        const auto t = _mm256_loadu_pd(angles + k);
        const auto estimate = function == trig_function::sine ? Sleef_sind4_u35(t) : Sleef_cosd4_u35(t);
        _mm256_storeu_pd(estimates + k, estimate);
    }
}

}  // namespace puretone
