// The inverse filter of a sweep, block by block. Proofs in
// inverse_filter.hpp.
#include "lib/inverse_filter.hpp"

#include "lib/double_double_exp.hpp"
#include "lib/exact_sine.hpp"
#include "lib/signal_stream.hpp"
#include "lib/sine_kernel.hpp"
#include "lib/sweep_accurate.hpp"
#include "lib/sweep_phase.hpp"
#include "lib/vector_copies.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace puretone {
namespace {

constexpr double u2 = 0x1p-106;
// w within 2^-50 of the weight (inverse_filter.hpp). The bracket's ends
// hold y but for the rounding of its products by the gains, 2^-53 of it
// each (two fades at most); the product w y rounds once more. Each end of
// RN(w y) is so within (2^-50 + 2^-52 + 2^-53)(1 + 2^-49) < 2^-49.4 of the
// real value's bound, and widening it by 2^-48 of itself, in two
// roundings more (2^-52 of it), covers that.
constexpr double widening = 0x1p-48;
// K's relative error: mu's (at most eta + 20 u^2, sweep_phase.hpp) and two
// operations', 27 u^2; and e^(-j mu)'s: 2^-98 and its argument's error
// (mu's and 7 u^2) times |j mu| <= 28.
constexpr double constant_relative = log_relative_bound + 47 * u2;
constexpr double exp_relative = exp_relative_bound + 28 * (log_relative_bound + 27 * u2);

// The widening, and 2^-1000 besides: a product in the subnormal range
// rounds in absolute terms, and |x| 2^-48 would underflow there.
[[gnu::always_inline]] inline double wider_low(double x)
{
    return x - (std::fabs(x) * widening + 0x1p-1000);
}

[[gnu::always_inline]] inline double wider_high(double x)
{
    return x + (std::fabs(x) * widening + 0x1p-1000);
}

// K = 4 f2 mu / R.
double_double filter_constant(const sweep_plan& plan)
{
    return divided<fast_fma>(times<fast_fma>(plan.step, {4 * plan.terms.f2, 0.0}), {double(plan.terms.rate), 0.0});
}

double_double decay(const sweep_plan& plan, std::int64_t frames)
{
    const double_double argument = times<fast_fma>(plan.step, {static_cast<double>(frames), 0.0});
    return exp_quick({-argument.high, -argument.low});
}

// Frame j alone: RN32 of the double-double estimate where it settles it,
// else the multiword loop's.
float exact_inverse(const signal_shape& shape, double_double k, std::int64_t j, bool& unsettled)
{
    const std::int64_t i = shape.length - 1 - j;
    if (i == 0)
        return 0.0f;  // sin 0 = 0 exactly: RN32 of a real 0 is +0
    const fade_gains gains = exact_fade_gains(shape, i, unsettled);
    if (gains.in == 0 || gains.out == 0)
        return 0.0f;
    const sweep_sine_bounded sine = sweep_sine_estimate(shape.sweep, i);
    const double_double weight = times<fast_fma>(k, decay(shape.sweep, j));
    const double_double scaled = times<fast_fma>(times<fast_fma>(weight, {gains.in, 0.0}), {gains.out, 0.0});
    const double_double v = times<fast_fma>(scaled, sine.value);
    // v errs by its factors' relative errors and four products' (28 u^2)
    // times |v|, and by the sine's absolute part times the rest.
    const double relative = constant_relative + exp_relative + sine.relative + 28 * u2;
    const double bound = (std::fabs(v.high) * relative + std::fabs(scaled.high) * sine.absolute) * (1 + 0x1p-30);
    const double low = wider_low(v.high + (v.low - bound)), high = wider_high(v.high + (v.low + bound));
    const auto from_low = static_cast<float>(low), from_high = static_cast<float>(high);
    if (low != 0 && high != 0 && (low > 0) == (high > 0) && from_low == from_high)
        return from_low;
    const inverse_result exact = accurate_inverse_sample(shape.sweep.terms, j, gains.in, gains.out);
    if (exact.precision == -1)
        unsettled = true;
    return exact.value;
}

// The vector pass over one block, in the sweep's order: made[at] from the
// low end, open[at] where the ends give other floats or one end is 0.
PURETONE_VECTOR_CLONES
void weigh_block(const double* __restrict low_sums, const double* __restrict high_sums,
                 const double_double* __restrict rising, double weight, std::size_t size, float* __restrict made,
                 std::uint8_t* __restrict open)
{
    for (std::size_t at = 0; at < size; ++at) {
        const double w = weight * (1 + rising[at].high);
        const double low = wider_low(w * low_sums[at]), high = wider_high(w * high_sums[at]);
        const auto from_low = static_cast<float>(low), from_high = static_cast<float>(high);
        made[at] = from_low;
        // RN32 is monotonic, -0 below +0 (a negative real rounds to -0, 0
        // and a positive one to +0): where both ends give one float, every
        // value between does. An end at 0 (whose sign as a double may not be
        // the real value's) is left open. Bitwise, not short-circuit, to
        // stay on vectors.
        open[at] = (low == 0) | (high == 0)
                   | (__builtin_bit_cast(std::uint32_t, from_low) != __builtin_bit_cast(std::uint32_t, from_high));
    }
}

// A whole block reversed, into the filter's order: a loop of fixed length,
// which the compiler makes into vector code (one of any length it leaves
// scalar).
PURETONE_VECTOR_CLONES
void reverse_block(const float* __restrict made, const std::uint8_t* __restrict open, float* __restrict samples,
                   std::uint8_t* __restrict marks)
{
    for (std::size_t k = 0; k < sweep_block; ++k)
        samples[k] = made[sweep_block - 1 - k];
    for (std::size_t k = 0; k < sweep_block; ++k)
        marks[k] = open[sweep_block - 1 - k];
}

}  // namespace

bool inverse_frames(std::int64_t first, std::int64_t count, const signal_shape& shape, float* out)
{
    const sweep_plan& plan = shape.sweep;
    const double_double k = filter_constant(plan);
    // Blocks in the sweep's order, so that its anchors serve the next ones:
    // sweep frames s .. s + size - 1 are the filter's j = N - 1 - i, from
    // N - s - size up to N - 1 - s. Their weights K e^(-j mu) are W e^(at
    // mu), at = i - s, W = K e^(-(N - 1 - s) mu) of the block's last j.
    // W itself: K e^(-j_a mu) at an anchor block a, times e^(sweep_block m mu) for
    // the m-th block after it, m < sweep_leaps; e^(at mu) is 1 + Q_at, Q_at
    // = expm1(at mu) of the sweep's steps. Each factor rounded to double,
    // and the products: six roundings to double (2^-50.4 with the
    // double-doubles' errors), within 2^-50.
    double leaps[sweep_leaps];
    for (std::size_t m = 0; m < sweep_leaps; ++m)
        leaps[m] = exp_quick(times<fast_fma>(plan.step, {static_cast<double>(m * sweep_block), 0.0})).high;
    double anchor_weight = 0;
    sweep_steps steps;
    make_sweep_steps(plan, count, steps);
    sweep_arrays work;
    // The block's samples and marks in the sweep's order, and reversed (with
    // a last word of 0 for for_each_marked past a block's end). Whole blocks
    // are reversed: the part past a short last block is read, unused, so
    // it is cleared once.
    alignas(64) float made[sweep_block] = {};
    alignas(64) std::uint8_t open[sweep_block] = {};
    alignas(64) float reversed[sweep_block];
    alignas(64) std::uint8_t marks[sweep_block + 8] = {};
    bool unsettled = false;
    const std::int64_t sweep_first = shape.length - first - count, sweep_end = shape.length - first;
    std::size_t block = 0;
    for (std::int64_t s = sweep_first; s < sweep_end; s += static_cast<std::int64_t>(sweep_block), ++block) {
        const auto size = static_cast<std::size_t>(std::min<std::int64_t>(sweep_block, sweep_end - s));
        sweep_brackets(shape, s, size, steps, false, fine_kernel.total_bound, fine_kernel.total_bound, work);
        const std::int64_t last_j = shape.length - 1 - s;
        if (block % sweep_leaps == 0)
            anchor_weight = times<fast_fma>(k, decay(plan, last_j)).high;
        const double weight = anchor_weight * leaps[block % sweep_leaps];
        weigh_block(work.low, work.high, steps.within, weight, size, made, open);
        reverse_block(made, open, reversed, marks);
        // Filter frames j0 .. last_j: the reversed block's last `size`.
        const std::int64_t j0 = last_j - static_cast<std::int64_t>(size) + 1;
        float* samples = out + (j0 - first);
        const std::size_t skipped = sweep_block - size;
        std::memcpy(samples, reversed + skipped, size * sizeof(float));
        for_each_marked(marks + skipped, size, [&](std::size_t m) {
            samples[m] = exact_inverse(shape, k, j0 + static_cast<std::int64_t>(m), unsettled);
        });
    }
    return !unsettled;
}

}  // namespace puretone
