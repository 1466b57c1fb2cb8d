// A sweep's phase: constants, frames and blocks. Proofs in sweep_phase.hpp.
#include "lib/sweep_phase.hpp"

#include "lib/angle_reduction.hpp"
#include "lib/double_double_exp.hpp"
#include "lib/double_double_sine.hpp"

#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
#include "lib/cpu_features.hpp"
#endif

#include <algorithm>
#include <cmath>

namespace puretone {
namespace {

constexpr double u2 = 0x1p-106;  // u^2
constexpr double eta = log_relative_bound;
constexpr double margin = 1.0 + 0x1p-30;  // rounds a bound computed in a few double steps up
// Linear: the phase errs by at most this relative to its terms' magnitudes
// (31 u^2 and more, sweep_phase.hpp).
constexpr double linear_relative = 0x1p-100;
// An absolute floor under a frame's phase bound: phases of tiny sweeps (f1
// near 2^-1000 Hz) reach the subnormal range, where a double-double's
// roundings are absolute, below 2^-1070 each; their bound times the phase
// would underflow.
constexpr double least_phase_bound = 0x1p-1000;

[[gnu::always_inline]] inline double_double whole(double value)
{
    return {value, 0.0};
}

// The power s with f a whole multiple of 2^-s (0 for whole f and for 0).
std::int32_t dyadic_scale(double f)
{
    if (f == 0)
        return 0;
    const auto bits = __builtin_bit_cast(std::uint64_t, f) & ~(std::uint64_t{1} << 63);
    const int biased = static_cast<int>(bits >> 52);
    const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | (biased != 0 ? std::uint64_t{1} << 52 : 0);
    const int exponent = (biased != 0 ? biased : 1) - 1075;  // f = mantissa 2^exponent
    const int lowest = exponent + __builtin_ctzll(mantissa);
    return lowest < 0 ? -lowest : 0;
}

// x less its nearest whole number, exactly: |x_high| < 2^51.
[[gnu::always_inline]] inline double_double less_whole_turns(double_double x)
{
    const double n = (x.high + integer_rounder) - integer_rounder;
    return two_sum(x.high - n, x.low);
}

// x less a whole number n, leaving it in [0, 1] (or in [-1, 0] where
// `negative`): n = floor(x_high) (or ceil), one less (more) where x_high is
// whole and x_low would take the difference below 0 (above). x_high - n is
// taken exactly by two-sum (a plain difference is not exact where |x_high|
// < 1/2 and n = -1 or 1), and x_low added by DWPlusFP: within 2 u^2 of the
// result, whose magnitude is at most 1 + 2^-20, and of its sign.
[[gnu::always_inline]] inline double_double less_whole_turns_toward(double_double x, bool negative)
{
    double n = (x.high + integer_rounder) - integer_rounder;  // rint, |x_high| < 2^51
    if (negative) {
        n = n < x.high ? n + 1 : n;  // ceil
        n = n == x.high && x.low > 0 ? n + 1 : n;
    } else {
        n = n > x.high ? n - 1 : n;  // floor
        n = n == x.high && x.low < 0 ? n - 1 : n;
    }
    return plus(two_sum(x.high, -n), x.low);
}

// The phase of a block: exponential and synchronized (see the header).
template <bool fused>
[[gnu::always_inline]] inline void growing_turns(double_double g, double_double h, const double_double* steps,
                                                 double* turns, std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k) {
        const double_double c = plus_same_sign(times<fused>(g, steps[k]), h);
        const double n = (c.high + integer_rounder) - integer_rounder;
        turns[k] = (c.high - n) + c.low;
    }
}

// Linear: c(b + k) = c(b) + k s_b + k^2 w, c(b) and s_b less whole turns
// toward w's sign, so that the three terms share it and their sums take
// the same-sign sum.
template <bool fused>
[[gnu::always_inline]] inline void linear_turns(double_double start, double_double slope, double_double w,
                                                double* turns, std::size_t count)
{
    // A signed 32-bit index: its conversion to double has a vector form.
    for (std::int32_t k = 0; k < static_cast<std::int32_t>(count); ++k) {
        const auto step = static_cast<double>(k);
        const double_double c = plus_same_sign(plus_same_sign(start, times<fused>(slope, whole(step))),
                                               times<fused>(w, whole(step * step)));
        const double n = (c.high + integer_rounder) - integer_rounder;
        turns[k] = (c.high - n) + c.low;
    }
}

template <bool fused>
[[gnu::always_inline]] inline void block_turns(const sweep_plan& plan, double_double start, double_double slope,
                                               const double_double* steps, double* turns, std::size_t count)
{
    if (plan.terms.kind == sweep_kind::linear)
        linear_turns<fused>(start, slope, plan.step, turns, count);
    else
        growing_turns<fused>(start, slope, steps, turns, count);
}

#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,fma"))) void
block_turns_avx512(const sweep_plan& plan, double_double start, double_double slope, const double_double* steps,
                   double* turns, std::size_t count)
{
    block_turns<true>(plan, start, slope, steps, turns, count);
}

__attribute__((target("avx2,fma"))) void block_turns_avx2(const sweep_plan& plan, double_double start,
                                                          double_double slope, const double_double* steps,
                                                          double* turns, std::size_t count)
{
    block_turns<true>(plan, start, slope, steps, turns, count);
}
#endif

// c(i) for linear sweeps, and the sum of its terms' magnitudes.
double_double linear_cycles(const sweep_plan& plan, std::int64_t index, double& magnitude)
{
    const auto i = static_cast<double>(index);
    const double_double first = times<fast_fma>(plan.scale, whole(i));
    const double_double second = times<fast_fma>(plan.step, two_product<fast_fma>(i, i));
    magnitude = std::fabs(first.high) + std::fabs(second.high);
    return plus(first, second);
}

}  // namespace

bool plan_sweep(const sweep_terms& terms, sweep_plan& plan)
{
    plan = {};
    plan.terms = terms;
    const double rate = terms.rate;
    const auto frames = static_cast<double>(terms.frames);
    switch (terms.kind) {
    case sweep_kind::exponential: {
        const double_double z = divided<fast_fma>(two_sum(terms.f2, -terms.f1), whole(terms.f1));
        const double_double x = divided<fast_fma>(whole(terms.f2), whole(terms.f1));
        const logarithm lambda = log1p_estimate(z, x);
        if (!lambda.settled)
            return false;
        plan.step = divided<fast_fma>(lambda.value, whole(frames));
        plan.scale = divided<fast_fma>(two_product<fast_fma>(terms.f1, frames), times<fast_fma>(lambda.value, whole(rate)));
        const double alpha = 2 * eta + 48 * u2, mu_error = eta + 20 * u2;
        const double most = lambda.value.high * (1 + 0x1p-40);
        plan.relative = (alpha + (mu_error + 21 * u2) * (1 + most) + 0x1p-92) * margin;
        return true;
    }
    case sweep_kind::synchronized: {
        const auto cycles = static_cast<double>(terms.whole_cycles);
        plan.scale = whole(cycles);
        plan.step = divided<fast_fma>(whole(terms.f1), two_product<fast_fma>(rate, cycles));
        // N mu = N f1 / (R M) = lambda within the rounding of N; rounded up with room.
        const double most = frames * plan.step.high * (1 + 0x1p-40) + 1.0;
        plan.relative = ((20 * u2 + 21 * u2) * (1 + most) + 0x1p-92) * margin;
        return true;
    }
    case sweep_kind::linear:
        plan.scale = divided<fast_fma>(whole(terms.f1), whole(rate));
        plan.step = divided<fast_fma>(two_sum(terms.f2, -terms.f1), whole(2 * frames * rate));
        plan.relative = linear_relative;
        plan.zero_scale = std::max(dyadic_scale(terms.f1), dyadic_scale(terms.f2));
        return true;
    }
    return false;
}

sweep_phase sweep_cycles(const sweep_plan& plan, std::int64_t index)
{
    if (plan.terms.kind == sweep_kind::linear) {
        double magnitude = 0;
        const double_double c = linear_cycles(plan, index, magnitude);
        return {c, plan.relative * magnitude * margin + least_phase_bound};
    }
    const double_double argument = times<fast_fma>(plan.step, whole(static_cast<double>(index)));
    const double_double c = times<fast_fma>(plan.scale, expm1_quick(argument));
    return {c, plan.relative * c.high * margin + least_phase_bound};
}

void make_sweep_steps(const sweep_plan& plan, std::int64_t count, sweep_steps& steps)
{
    steps.anchor_at = -1;
    if (plan.terms.kind == sweep_kind::linear)
        return;
    const auto within = static_cast<std::size_t>(std::min<std::int64_t>(count, sweep_block));
    for (std::size_t k = 0; k < within; ++k)
        steps.within[k] = expm1_quick(times<fast_fma>(plan.step, whole(static_cast<double>(k))));
    const auto blocks = (count + static_cast<std::int64_t>(sweep_block) - 1) / static_cast<std::int64_t>(sweep_block);
    const auto leaps = static_cast<std::size_t>(std::min<std::int64_t>(blocks, sweep_leaps));
    for (std::size_t m = 0; m < leaps; ++m)
        steps.leaps[m] =
            expm1_quick(times<fast_fma>(plan.step, whole(static_cast<double>(m * sweep_block))));
}

double sweep_turns(const sweep_plan& plan, std::int64_t first, std::size_t count, sweep_steps& table, double* turns)
{
    const double_double* steps = table.within;
    const auto b = static_cast<double>(first);
    double_double start, slope;
    double bound;
    if (plan.terms.kind == sweep_kind::linear) {
        double magnitude = 0;
        const bool negative = plan.step.high < 0;
        start = less_whole_turns_toward(linear_cycles(plan, first, magnitude), negative);
        const double_double bent = times<fast_fma>(plan.step, whole(2 * b));
        slope = less_whole_turns_toward(plus(plan.scale, bent), negative);
        const double w = std::fabs(plan.step.high);
        bound = plan.relative * (magnitude + 128 * (std::fabs(plan.scale.high) + std::fabs(bent.high)) + 0x1p14 * w + 512);
    } else {
        // start = G = A e^(b mu), slope = H = A (e^(b mu) - 1).
        // P from the anchor where it lies a whole number of blocks, fewer
        // than sweep_leaps, before: P_a R_m + P_a + R_m; else afresh.
        const std::int64_t offset = first - table.anchor_at;
        const std::int64_t leap = offset / static_cast<std::int64_t>(sweep_block);
        double_double p;
        if (table.anchor_at >= 0 && offset >= 0 && offset % static_cast<std::int64_t>(sweep_block) == 0
            && leap < static_cast<std::int64_t>(sweep_leaps)) {
            const double_double r = table.leaps[leap];
            p = leap == 0 ? table.anchor : plus(plus(times<fast_fma>(table.anchor, r), table.anchor), r);
        } else {
            p = expm1_quick(times<fast_fma>(plan.step, whole(b)));
            table.anchor_at = first;
            table.anchor = p;
        }
        slope = times<fast_fma>(plan.scale, p);
        start = plus(plan.scale, slope);
        const double last = start.high * steps[count - 1].high + slope.high;  // c of the block's last frame, near
        bound = plan.relative * last;
    }
#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
    switch (widest_kernel_isa()) {
    case kernel_isa::avx512_fma:
        block_turns_avx512(plan, start, slope, steps, turns, count);
        break;
    case kernel_isa::avx2_fma:
        block_turns_avx2(plan, start, slope, steps, turns, count);
        break;
    case kernel_isa::baseline:
        block_turns<fast_fma>(plan, start, slope, steps, turns, count);
        break;
    }
#else
    block_turns<fast_fma>(plan, start, slope, steps, turns, count);
#endif
    return bound * margin + 0x1p-54;
}

sweep_sine_bounded sweep_sine_estimate(const sweep_plan& plan, std::int64_t index)
{
    const sweep_phase phase = sweep_cycles(plan, index);
    return {turn_sine_estimate(less_whole_turns(phase.cycles)), turn_relative_bound,
            turn_absolute_bound + 7 * phase.bound};
}

sweep_sine sweep_sine_quick(const sweep_plan& plan, std::int64_t index)
{
    if (index == 0)
        return {0.0, true};  // c(0) = 0 exactly, and RN(sin 0) = +0
    const sweep_phase phase = sweep_cycles(plan, index);
    const double_double x = less_whole_turns(phase.cycles);
    if (plan.terms.kind == sweep_kind::linear) {
        // c = (2 N f1 i + (f2 - f1) i^2) / (2 N R), so 2c is a whole
        // multiple of 1 / (2^s N R); if it is not whole, it lies at least
        // that far from every whole number. Where the estimate is within
        // 2 bound of a half turn and 4 bound 2^s N R < 1, 2c is whole, and
        // sin 2 pi c = 0 exactly.
        const double doubled = 2 * x.high;
        const double half_turns = (doubled + integer_rounder) - integer_rounder;
        const double gap = std::fabs((doubled - half_turns) + 2 * x.low);
        // 2^s N R, exactly (N R < 2^52), or infinity where 2^s is not a
        // double: then no bound is small enough and the test says no.
        const double power = plan.zero_scale <= 1023
                                 ? __builtin_bit_cast(double, static_cast<std::uint64_t>(1023 + plan.zero_scale) << 52)
                                 : __builtin_inf();
        const double denominator = static_cast<double>(plan.terms.frames) * plan.terms.rate * power;
        if (gap <= 2 * phase.bound * margin && 4 * phase.bound * denominator * margin < 1)
            return {0.0, true};
    }
    const settled_sine s = settle_double_double(turn_sine_estimate(x), turn_relative_bound,
                                                turn_absolute_bound + 7 * phase.bound);
    return {s.value, s.settled};
}

}  // namespace puretone
