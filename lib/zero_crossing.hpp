// The sine of an angle near a multiple of pi, with a relative error bound.
//
// Near a zero crossing the sine is tiny, and an estimate within an absolute
// 2^-47 cannot tell which float it rounds to (f32 needs |sin t| to within
// about 2^-24 of itself). Some tones put whole classes of samples there: 1
// kHz at 48 kHz every 24th sample, 11025 Hz at 44.1 kHz every other one,
// with |sin t| ~ 1e-16. The accurate path takes hundreds of nanoseconds
// each; this takes a few operations.
//
// t = k pi + r, k the integer nearest t / pi, and sin t = (-1)^k sin r.
// pi = Q1 + Q2 + Q3 + q, each Qj a double, |q| < 2^-162. Contract: t finite,
// |t| <= 8.8e14 (the reduction's domain), |sin t| < 2^-13.9. Then:
//   - |r| < 2^-13: |sin r| >= (2/pi) |r| for |r| <= pi/2.
//   - |t / pi| <= 2.802e14 < 2^48, so |k| < 2^48. t * RN(1/pi) errs from
//     t / pi by at most 2^48 * 2^-52 = 2^-4, so rint of it is the nearest
//     integer k (t / pi lies within 2^-14 of it), exactly: |x| < 2^51.
//   - b = (t - h1) - l1 = t - k Q1 exactly, with h1 = RN(k Q1) and l1 = k Q1
//     - h1 exact (Dekker's product, or FMA). If k = 0, h1 = l1 = 0. Otherwise |t| > 2, so t is a
//     multiple of 2^-51, and so are k Q1 (Q1 is), h1 (>= Q1 > 2) and l1.
//     |t - k Q1| <= |r| + |k| |pi - Q1| < 2^-13 + 2^48 * 2^-52.8 < 2^-4, and
//     |l1| <= ulp(h1) / 2 <= 2^-3 (h1 < 2^50): t - h1 and then b are
//     multiples of 2^-51 below 2^-1, 50 bits at most: both exact.
//   - k Q2 = h2 + l2 exactly (Dekker, or FMA); |h2| < 2^48 * 2^-52.8 < 2^-4.8, so
//     |l2| <= 2^-58. c + e = b - h2 exactly (Knuth's two-sum), |e| <=
//     ulp(c) / 2 <= 2^-53 |c|. |k Q3| < 2^48 * 2^-108 = 2^-60.
//   - rl = RN(RN(e - l2) - RN(k Q3)): three roundings of values below
//     2^-53 |c| + 2^-57, each at most 2^-53 of that, so together below
//     2^-105 |c| + 2^-109; k q, below 2^-114, is dropped. So r = c + rl
//     within 2^-105 |c| + 2^-108.
//   - sin r = r - r^3/6 + theta r^5/120, 0 <= theta <= 1: the term left out
//     is below 2^-52 |r| / 120 < 2^-58.9 |r|. r^3/6 is made from c alone
//     (|rl| <= 2^-52 |c| + 2^-57 changes it by less than 2^-76 |c| + 2^-80)
//     with four roundings, each 2^-53 of a value below 2^-28 |c|.
//   - y = RN(c + RN(rl - c^3/6)): the last rounding errs by 2^-53 |y|, the
//     one before by 2^-53 (2^-52 |c| + 2^-57 + 2^-28 |c|).
// In all |y - sin t| < 2^-53 |y| + 2^-58.5 |r| + 2^-78 |c| + 2^-108, and
// |c| <= |r| + 2^-56, |r| <= (1 + 2^-25) |sin t|. zero_crossing_bound allows
// four times the relative part and 2^8 times the absolute one.
//
// Built with -ffp-contract=off: every operation rounds once, as above.
#pragma once

#include "angle_reduction.hpp"

#include <cmath>

namespace puretone {

// Where the estimate of sin t is this small or smaller (with an error of at
// most 2^-47), |sin t| < 2^-13.9 and the contract holds.
constexpr double zero_crossing_reach = 0x1p-14;

struct sine_near_zero {
    double value;  // an estimate of sin t
    double bound;  // |value - sin t| <= bound
};

// The bound for a given estimate: 2^-50 |y| + 2^-100. Exact but for the
// last addition, whose rounding the margins above cover.
inline double zero_crossing_bound(double estimate)
{
    return 0x1p-50 * std::fabs(estimate) + 0x1p-100;
}

// For t = +-0 the value is 0 of either sign, within its bound (2^-100 >
// 0), so a bracket around it stays open and the caller's resolver decides;
// sine_near_a_zero gives the signed zero itself. Without that one branch,
// the loops that call this run on vectors.
inline sine_near_zero sine_near_a_zero_or_open(double t)
{
    // The steps above are reduce_half_turns_exactly's, here over the wider
    // domain this contract allows: its c, and rl its r.
    const half_turn_double_double reduced = reduce_half_turns_exactly(t);
    const double c = reduced.c, rl = reduced.r;
    const double cube = ((c * c) * c) / 6.0;
    const double sine = c + (rl - cube);
    const double value = with_sign(sine, reduced.sign);  // sin(k pi + r) = (-1)^k sin r, exactly
    return {value, zero_crossing_bound(value)};
}

inline sine_near_zero sine_near_a_zero(double t)
{
    if (t == 0)
        return {t, 0.0};  // sin(+-0) = +-0 exactly, its sign kept
    return sine_near_a_zero_or_open(t);
}

}  // namespace puretone
