// The u35 sine, or sine and cosine, two doubles at a time with Advanced
// SIMD, which every AArch64 CPU has.
#include "vector_sine.hpp"

#include <arm_neon.h>
#include <sleef.h>

namespace puretone {

void vector_estimates_advsimd(const double* angles, double* sines, double* cosines, std::size_t count)
{
    for (std::size_t k = 0; k < count; k += 2) {
        const float64x2_t t = vld1q_f64(angles + k);
        if (cosines == nullptr) {
            vst1q_f64(sines + k, Sleef_sind2_u35advsimd(t));
            continue;
        }
        const auto both = Sleef_sincosd2_u35advsimd(t);
        vst1q_f64(sines + k, both.x);
        vst1q_f64(cosines + k, both.y);
    }
}

}  // namespace puretone
