// Resolves samples that the rounding test leaves open: integer peaks by the
// cosine, f32 samples near a zero crossing by the reduction by pi, and
// everything else by the accurate path's Ziv loop. MPFR stays behind it
// only for a sine that loop would leave open at 512 bits, which no tested
// angle has needed.
#include "exact_sine.hpp"

#include "accurate_sine.hpp"
#include "zero_crossing.hpp"

#include <cmath>
#include <mpfr.h>

namespace puretone {

double correctly_rounded_sine(double angle)
{
    if (const accurate_result settled = accurate_sine(angle); settled.precision != -1)
        return settled.value;
    mpfr_t x;
    mpfr_init2(x, 53);  // a double's precision: sin rounded as a double would be
    mpfr_set_d(x, angle, MPFR_RNDN);  // exact
    mpfr_sin(x, x, MPFR_RNDN);
    const double sine = mpfr_get_d(x, MPFR_RNDN);  // exact: x already holds 53 bits
    mpfr_clear(x);
    return sine;
}

std::int16_t correctly_rounded_sample(double angle)
{
    return static_cast<std::int16_t>(scale_to_sample(correctly_rounded_sine(angle)));
}

std::int16_t resolve_sample(double angle, double estimate, double bound)
{
    return resolve_sample_for<std::int16_t>(angle, estimate, bound, 32767.0);
}

template <class Sample>
Sample resolve_sample_for(double angle, double estimate, double bound, double peak)
{
    const bracket_of<Sample> ends = bracket_for<Sample>(estimate, bound, peak);
    if (same_sample(ends.low, ends.high))
        return ends.low;
    if constexpr (is_float_sample<Sample>) {
        if (std::fabs(estimate) <= zero_crossing_reach) {
            const sine_near_zero near = sine_near_a_zero(angle);
            const bracket_of<Sample> closer = bracket_for<Sample>(near.value, near.bound, peak);
            if (same_sample(closer.low, closer.high))
                return closer.low;
        }
    } else {
        const bracket_of<Sample> closer =
            bracket_ends<Sample>(narrowed_bracket(estimate, bound, std::cos(angle), libm_error_bound), peak);
        if (same_sample(closer.low, closer.high))
            return closer.low;
    }
    return scale_sample<Sample>(correctly_rounded_sine(angle), peak);
}

template std::int16_t resolve_sample_for<std::int16_t>(double, double, double, double);
template std::int32_t resolve_sample_for<std::int32_t>(double, double, double, double);
template float resolve_sample_for<float>(double, double, double, double);

}  // namespace puretone
