// Reduction of an angle by whole turns, and by half turns.
//
// r = t - 2*pi*k, with k the integer nearest t / (2 pi), to within 2^-51
// absolute, for every double |t| <= reduction_domain. sin r = sin(t - 2 pi k)
// = sin t and cos r = cos t exactly, so an estimate of sin r within E is an
// estimate of sin t within E + reduction_error_bound. The vector sine then
// always sees |r| < 3.4, where it is quickest.
//
// 2 pi = P1 + P2 + P3 + d, each Pj a double, |d| < 2^-160.
//   1. k = rint(t * RN(1/2pi)). |t| / 2pi < 2^47, so the product errs by at
//      most 2^47 * 2^-52 = 0.031 and |t/2pi - k| <= 0.531, |t - 2 pi k| <
//      3.34. k is exact, and 0x1.8p52 rounds it to an integer for |x| < 2^51.
//   2. k * P1 = h + l exactly: h = RN(k P1), l the error of that product, by
//      FMA where it is fast, else by Dekker's product (Veltkamp's split into
//      26-bit halves makes each partial product exact). |h| < 2^50, so |l|
//      <= ulp(h)/2 <= 2^-4.
//   3. u = (t - h) - l = t - k P1, both subtractions exact. If k = 0, h = l =
//      0. If |t| >= 4, then t, h (>= P1 > 4) and l are multiples of 2^-50
//      (P1 is, so k P1 is), and |t - h| <= |t - k P1| + |l| < 3.34 + |k| *
//      |2pi - P1| + 2^-4 < 3.5: a multiple of 2^-50 below 2^3 fits in 53 bits.
//      If |t| < 4 and k != 0, then |k| = 1, l = 0, and t - P1 is a multiple of
//      ulp(t) = 2^-51 below 4 (t >= pi - 2^-50): exact again. (Sterbenz's
//      lemma gives the same for k >= 2.) So |u| < 3.34 + 2^47 |P2| < 3.38.
//   4. w = RN(k P2): |k P2| < 2^47 * 2^-51.8 < 2^-4, error <= 2^-58.
//   5. r = RN(u - w): |r| < 4, error <= ulp/2 <= 2^-52.
//   Dropped: k (P3 + d), below 2^47 * 2^-106.9 < 2^-59.
// In all, |r - (t - 2 pi k)| <= 2^-52 + 2^-58 + 2^-59 < reduction_error_bound.
//
// Built with -ffp-contract=off: every operation rounds once, as above.
// Always inlined, with no call to an inline library function (the bit casts
// are the compiler's builtin): files built for wider instruction sets
// include this, and an out-of-line copy made there could be shared with
// code for any CPU.
#pragma once

#include "lib/double_double.hpp"

#include <cmath>
#include <cstdint>

namespace puretone {

constexpr double reduction_error_bound = 0x1p-51;  // 2^-52 + 2^-58 + 2^-59, rounded up
// |k| < 2^47 for every |t| <= this; the largest angle of any tone is about
// 6.6e14 (2147449499 / 44100 * 2^31 * 2 pi).
constexpr double reduction_domain = 8.8e14;  // (2^47 - 0.531) * 2 pi > 8.84e14

constexpr double two_pi_1 = 0x1.921fb54442d18p+2;   // RN(2 pi)
constexpr double two_pi_2 = 0x1.1a62633145c07p-52;  // RN(2 pi - P1)
constexpr double inverse_two_pi = 0x1.45f306dc9c883p-3;  // RN(1 / 2pi)
// Veltkamp's split of P1: two halves of at most 26 bits.
constexpr double two_pi_1_high = 0x1.921fb58p+2;
constexpr double two_pi_1_low = -0x1.dde974p-25;
static_assert(two_pi_1_high + two_pi_1_low == two_pi_1);

struct reduced_angle {
    double r;  // t - 2 pi k, within reduction_error_bound
    double k;  // the whole turns taken off
};

// Whether this file is built for a CPU whose FMA is as fast as a multiply
// (AArch64 always; x86-64 only in the copies made for such CPUs).
#if defined(__FP_FAST_FMA)
constexpr bool fast_fma = true;
#else
constexpr bool fast_fma = false;
#endif

// The rounding error of RN(k C) = h, exactly: k C - h, for a whole k below
// 2^51 and a constant C split by Veltkamp into two halves of at most 26 bits.
// Both forms give the same bits; `fused` says only which is quicker here.
template <bool fused>
[[gnu::always_inline]] inline double product_error(double k, double h, double c, double c_high, double c_low)
{
    if constexpr (fused) {
        return std::fma(k, c, -h);  // one rounding of an exact value
    } else {
        // Dekker: k = k_high + k_low, each of at most 26 bits, so every
        // partial product below is exact, and so is each sum in turn.
        const double split = k * 134217729.0;  // 2^27 + 1
        const double k_high = split - (split - k);
        const double k_low = k - k_high;
        return ((k_high * c_high - h) + k_high * c_low + k_low * c_high) + k_low * c_low;
    }
}

constexpr double integer_rounder = 0x1.8p52;  // x + 1.5*2^52 - 1.5*2^52 = rint(x), |x| < 2^51

template <bool fused = fast_fma>
[[gnu::always_inline]] inline reduced_angle reduce_angle(double t)
{
    const double k = (t * inverse_two_pi + integer_rounder) - integer_rounder;
    const double h = k * two_pi_1;
    const double l = product_error<fused>(k, h, two_pi_1, two_pi_1_high, two_pi_1_low);
    const double u = (t - h) - l;
    return {u - k * two_pi_2, k};
}

// Reduction by half turns: x = t - k pi, k = rint(t * RN(1/pi)), for |t| <=
// half_turn_domain, or for t = r from reduce_angle above. sin t = (-1)^k
// sin x, and |cos t| = |cos x|. pi = Q1 + Q2 + Q3 + q, each Qj a double, |q|
// < 2^-162.
//   1. |t RN(1/pi) - t/pi| <= 2^40 * 2^-55 + 2^-15 (|t RN(1/pi)| < 2^38.4
//      rounds by at most 2^-15) = 2^-14, so |t/pi - k| <= 1/2 + 2^-14 and
//      |t - k pi| <= pi/2 + pi 2^-14 < 1.57099. For |t| < 3.4 the product errs
//      by less than 2^-52, and k is 0 or +-1. k is exact: |k| < 2^38.4 < 2^51.
//   2. h = RN(k Q1) and l = k Q1 - h exactly (product_error). |h| < 2^41, so
//      |l| <= 2^-13. For |k| <= 1, l = 0.
//   3. u = (t - h) - l = t - k Q1, both subtractions exact. If k = 0, h = l
//      = 0. Otherwise |t| > 1.57 is a multiple of 2^-52, and so are k Q1, h
//      (>= Q1 > 2) and l (Q1 is a multiple of 2^-51). |t - h| <= |t - k pi| +
//      |k| |pi - Q1| + |l| < 1.5711 + 2^38.4 * 2^-52.8 + 2^-13 < 2, and |u| <
//      1.5711 + 2^-14.4 < 2: multiples of 2^-52 below 2 fit in 53 bits.
//   4. w = RN(k Q2): |k Q2| < 2^38.4 * 2^-52.8 = 2^-14.4, error <= 2^-68;
//      exact for |k| <= 1.
//   5. x = RN(u - w): |x| < 2, error <= 2^-53.
//   Dropped: k (Q3 + q), below 2^38.4 * 2^-107.9 < 2^-69.
// In all x lies within 2^-53 + 2^-68 + 2^-69 < 2^-52.9 of t - k pi, and |x|
// < 1.5711. From r = reduce_angle(t).r, x lies within reduction_error_bound
// + 2^-53 + 2^-107 of t - 2 pi k' - k pi: half_turn_error_bound covers both.
constexpr double half_turn_domain = 0x1p40;
constexpr double half_turn_reach = 1.5711;             // |x| below this
constexpr double half_turn_error_bound = 0x1.41p-51;  // 2^-51 + 2^-53 + 2^-107, rounded up
static_assert(half_turn_error_bound >= reduction_error_bound + 0x1p-53 + 0x1p-107);

constexpr double pi_1 = 0x1.921fb54442d18p+1;      // RN(pi)
constexpr double pi_2 = 0x1.1a62633145c07p-53;     // RN(pi - Q1)
constexpr double pi_3 = -0x1.f1976b7ed8fbcp-109;   // RN(pi - Q1 - Q2)
constexpr double inverse_pi = 0x1.45f306dc9c883p-2;  // RN(1 / pi)
// Veltkamp's splits of Q1 and Q2: halves of at most 26 bits each.
constexpr double pi_1_high = 0x1.921fb58p+1;
constexpr double pi_1_low = -0x1.dde974p-26;
constexpr double pi_2_high = 0x1.1a62630p-53;
constexpr double pi_2_low = 0x1.8a2e038p-80;
static_assert(pi_1_high + pi_1_low == pi_1 && pi_2_high + pi_2_low == pi_2);

struct half_turn_angle {
    double x;     // t - k pi, |x| < half_turn_reach
    double sign;  // (-1)^k as the sign of a zero: -0.0 where k is odd, else +0.0
};

template <bool fused = fast_fma>
[[gnu::always_inline]] inline half_turn_angle reduce_half_turns(double t)
{
    // k + 1.5*2^52 holds k in its last bits (its ulp is 1), and 1.5*2^52 is
    // even, so its lowest bit is k's parity.
    const double shifted = t * inverse_pi + integer_rounder;
    const double k = shifted - integer_rounder;
    const double sign = __builtin_bit_cast(double, __builtin_bit_cast(std::uint64_t, shifted) << 63);
    if constexpr (fused) {
        // t - k Q1 is a double (step 3), so one rounding of it is exact; and
        // RN(u - k Q2) errs by at most 2^-53 (step 5, without step 4).
        const double u = std::fma(-k, pi_1, t);
        return {std::fma(-k, pi_2, u), sign};
    } else {
        const double h = k * pi_1;
        const double l = product_error<fused>(k, h, pi_1, pi_1_high, pi_1_low);
        const double u = (t - h) - l;
        return {u - k * pi_2, sign};
    }
}

// The same reduction with the small terms that x leaves out, for estimates
// whose bound is relative to the sine (sine_kernel.hpp, relative_kernel):
// X = t - k pi = c + rl + d, |d| <= 2^-53 |c| + 2^-120, |rl| < 2^-67.5, for
// |t| <= half_turn_domain, with c = x and k as above. After steps 1 to 3
// (u = t - k Q1, exactly), X = u - k Q2 - k Q3 - k q, |k Q3| < 2^38.4 *
// 2^-108 = 2^-69.6, |k q| < 2^38.4 * 2^-162:
//   - fused: c = RN(u - k Q2), within 2^-53 |c| of u - k Q2, and rl =
//     -RN(k Q3), within 2^-53 2^-69.6 of -k Q3;
//   - plain: h2 = RN(k Q2), l2 = k Q2 - h2 exactly (product_error; |h2| <
//     2^-14.4 lies below 2^-14, so |l2| <= half its ulp, 2^-68), c = RN(u -
//     h2), within 2^-53 |c| of u - h2, and rl = -RN(l2 + RN(k Q3)), within
//     2^-53 (2^-68 + 2^-69.6) of -(l2 + k Q3); |rl| <= (2^-68 + 2^-69.6)(1 +
//     2^-52) < 2^-67.5.
// The part of d relative to c is the error of c itself; what is left is
// absolute, about 2^-120, so that near a zero crossing, where c is as
// small as 1e-16, c + rl still holds X to within 2^-52 of itself. The two
// forms may differ in c's last bit; both are within the bound, which
// sine_kernel.sollya computes from the constants.
struct half_turn_pair {
    double c;     // t - k pi, rounded: reduce_half_turns' x
    double rl;    // the small terms c leaves out
    double sign;  // (-1)^k as the sign of a zero, as in half_turn_angle
};

constexpr double minus_pi_3 = -pi_3;

template <bool fused = fast_fma>
[[gnu::always_inline]] inline half_turn_pair reduce_half_turns_precisely(double t)
{
    const half_turn_angle reduced = reduce_half_turns<fused>(t);
    const double k = (t * inverse_pi + integer_rounder) - integer_rounder;  // its k, the same operations
    if constexpr (fused) {
        return {reduced.x, k * minus_pi_3, reduced.sign};
    } else {
        const double h2 = k * pi_2;
        return {reduced.x, -product_error<fused>(k, h2, pi_2, pi_2_high, pi_2_low) + k * minus_pi_3, reduced.sign};
    }
}

// The same reduction to within 2^-104.99, as a double-double, for the
// accurate path's first try (double_double_sine.hpp): X = t - k pi = c + r
// + d, |d| < 2^-104.99, for |t| <= half_turn_domain, k as above. After
// steps 1 to 3 (u = t - k Q1 exactly, |u| < 2):
//   - h2 = RN(k Q2), l2 = k Q2 - h2 exactly (product_error): |l2| <= 2^-68;
//   - c = RN(u - h2) and e = u - h2 - c exactly (Knuth's two-sum): |c| < 2
//     so |e| <= 2^-53;
//   - r = RN(RN(e - l2) - RN(k Q3)): |e - l2| < 2^-52.9 rounds by at most
//     2^-106, |k Q3| < 2^-69.6 by at most 2^-123, and the difference, below
//     2^-52.8, by at most 2^-106;
//   - dropped: k q, below 2^38.4 * 2^-162.
// In all |d| < 2^-106 + 2^-123 + 2^-106 + 2^-123.6 < 2^-104.99. For k = 0
// every step is exact and X = t. The same steps serve sine_near_a_zero
// (zero_crossing.hpp) up to 8.8e14, where |sin t| is small, with its own
// proof; (-1)^k's parity bit holds for every |k| < 2^51.
struct half_turn_double_double {
    double c, r;  // X = c + r, not normalized: |r| < 2^-52.8
    double sign;  // (-1)^k as the sign of a zero, as in half_turn_angle
};

template <bool fused = fast_fma>
[[gnu::always_inline]] inline half_turn_double_double reduce_half_turns_exactly(double t)
{
    const double shifted = t * inverse_pi + integer_rounder;
    const double k = shifted - integer_rounder;
    const double sign = __builtin_bit_cast(double, __builtin_bit_cast(std::uint64_t, shifted) << 63);
    const double h = k * pi_1;
    const double u = (t - h) - product_error<fused>(k, h, pi_1, pi_1_high, pi_1_low);
    const double h2 = k * pi_2;
    const double l2 = product_error<fused>(k, h2, pi_2, pi_2_high, pi_2_low);
    const double_double c = two_sum(u, -h2);
    return {c.high, (c.low - l2) - k * pi_3, sign};
}

// x with the sign of (-1)^k applied: exact.
[[gnu::always_inline]] inline double with_sign(double x, double sign)
{
    return __builtin_bit_cast(double, __builtin_bit_cast(std::uint64_t, x) ^ __builtin_bit_cast(std::uint64_t, sign));
}

}  // namespace puretone
