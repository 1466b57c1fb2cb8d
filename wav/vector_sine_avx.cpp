// The u35 sine and cosine four doubles at a time. Built with -mavx; called
// only when the CPU has AVX. SLEEF picks its AVX, FMA4 or AVX2 variant itself.
#include "vector_sine.hpp"

#include <sleef.h>

namespace puretone {

void estimate_sines_avx(const double* angles, double* estimates, std::size_t count)
{
    for (std::size_t k = 0; k < count; k += 4)
        _mm256_storeu_pd(estimates + k, Sleef_sind4_u35(_mm256_loadu_pd(angles + k)));
}

void estimate_cosines_avx(const double* angles, double* estimates, std::size_t count)
{
    for (std::size_t k = 0; k < count; k += 4)
        _mm256_storeu_pd(estimates + k, Sleef_cosd4_u35(_mm256_loadu_pd(angles + k)));
}

}  // namespace puretone
