// Resolves samples that the rounding test leaves open.
//
// Nearly all of them are peaks. There RN(sin t) is either exactly +-1, which
// gives +-32767, or at most 1 - 2^-53 in magnitude, which gives +-32766
// (32767 * (1 - 2^-53) rounds to 32767 - 2^-38). RN(sin t) is +-1 exactly when
// |sin t| > 1 - 2^-54, the midpoint below 1, that is when
//   cos^2 t < 1 - (1 - 2^-54)^2 = 2^-53 - 2^-108,   |cos t| < tau.
// A libm cosine decides that unless it lies within its error of tau; the
// rest, and every non-peak straddle, is computed with MPFR.
#include "exact_sine.hpp"

#include <cmath>
#include <mpfr.h>

namespace puretone {
namespace {

constexpr double peak_tau = 0x1.6a09e667f3bccp-27;  // sqrt(2^-53 - 2^-108) ~ 1.05e-8, to nearest
// One libm_error_bound for the cosine's error, one more to cover the roundings
// of tau and of tau +- margin, each below 2^-79.
constexpr double peak_margin = 2 * libm_error_bound;
constexpr double peak_certain_below = peak_tau - peak_margin;  // |cos t| surely < tau
constexpr double peak_certain_above = peak_tau + peak_margin;  // |cos t| surely > tau

}  // namespace

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
    const bool positive_peak = ends.low == 32766 && ends.high == 32767;
    const bool negative_peak = ends.low == -32767 && ends.high == -32766;
    if (positive_peak || negative_peak) {
        const double cosine = std::fabs(std::cos(angle));
        if (cosine < peak_certain_below)
            return positive_peak ? 32767 : -32767;
        if (cosine > peak_certain_above)
            return positive_peak ? 32766 : -32766;
    }
    return correctly_rounded_sample(angle);
}

}  // namespace puretone
