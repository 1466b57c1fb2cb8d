// Resolves samples that the rounding test leaves open: peaks by the cosine,
// and everything else with MPFR.
#include "exact_sine.hpp"

#include <cmath>
#include <mpfr.h>

namespace puretone {

std::int16_t correctly_rounded_sample(double angle)
{
    mpfr_t x;
    mpfr_init2(x, 53);  // a double's precision: sin rounded as a double would be
    mpfr_set_d(x, angle, MPFR_RNDN);  // exact
    mpfr_sin(x, x, MPFR_RNDN);
    const double sine = mpfr_get_d(x, MPFR_RNDN);  // exact: x already holds 53 bits
    mpfr_clear(x);
    return static_cast<std::int16_t>(scale_to_sample(sine));
}

std::int16_t resolve_sample(double angle, double estimate, double bound)
{
    const sample_bracket ends = bracket_samples(estimate, bound);
    if (ends.low == ends.high)
        return static_cast<std::int16_t>(ends.low);
    if (const std::int32_t peak = settle_peak(ends, std::cos(angle), libm_error_bound))
        return static_cast<std::int16_t>(peak);
    return correctly_rounded_sample(angle);
}

}  // namespace puretone
