// Resolves samples that the rounding test leaves open: f32 samples near a
// zero crossing by the reduction by pi, and everything else by the
// accurate path's Ziv loop (accurate_sine.hpp). A
// sine that loop leaves open at 512 bits, which no tested angle has needed,
// is reported to the caller, never guessed.
#include "exact_sine.hpp"

#include "accurate_sine.hpp"
#include "zero_crossing.hpp"

#include <cmath>

namespace puretone {

std::int16_t resolve_sample(double angle, double estimate, double bound, bool& unsettled)
{
    return resolve_sample_for<std::int16_t>(angle, estimate, bound, 32767.0, unsettled);
}

template <class Sample>
Sample resolve_sample_for(double angle, double estimate, double bound, double peak, bool& unsettled)
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
    }
    // Integer peaks that the caller's peak rule left open go on too: no
    // libm cosine, whose accuracy the samples would then depend on, and no
    // call into libm that the dynamic linker might bind on a small stack.
    const accurate_result sine = accurate_sine(angle);
    if (sine.precision == -1) {
        unsettled = true;
        return Sample{};
    }
    return scale_sample<Sample>(sine.value, peak);
}

template std::int16_t resolve_sample_for<std::int16_t>(double, double, double, double, bool&);
template std::int32_t resolve_sample_for<std::int32_t>(double, double, double, double, bool&);
template float resolve_sample_for<float>(double, double, double, double, bool&);

}  // namespace puretone
