// The u35 sine, or sine and cosine, as many doubles at a time as this CPU's
// SVE registers hold (2 to 32). Built with +sve; called only when the CPU
// has SVE. The last step is predicated, so any count works.
#include "vector_sine.hpp"

#include <arm_sve.h>
#include <sleef.h>

namespace puretone {

void vector_estimates_sve(const double* angles, double* sines, double* cosines, std::size_t count)
{
    for (std::size_t k = 0; k < count; k += svcntd()) {
        const svbool_t lanes = svwhilelt_b64(k, count);
        const svfloat64_t t = svld1_f64(lanes, angles + k);
        if (cosines == nullptr) {
            svst1_f64(lanes, sines + k, Sleef_sindx_u35sve(t));
            continue;
        }
        const svfloat64x2_t both = Sleef_sincosdx_u35sve(t);  // a tuple: sines, then cosines
        svst1_f64(lanes, sines + k, svget2_f64(both, 0));
        svst1_f64(lanes, cosines + k, svget2_f64(both, 1));
    }
}

}  // namespace puretone
