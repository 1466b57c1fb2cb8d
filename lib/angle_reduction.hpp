// Reduction of an angle by whole turns, before the vector sine.
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
#pragma once

#include <cmath>

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

// The rounding error of RN(k P1) = h, exactly: k P1 - h. Both forms give the
// same bits; `fused` says only which is quicker here.
template <bool fused>
inline double product_error(double k, double h)
{
    if constexpr (fused) {
        return std::fma(k, two_pi_1, -h);  // one rounding of an exact value
    } else {
        // Dekker: k = k_high + k_low, each of at most 26 bits (k < 2^47), so
        // every partial product below is exact, and so is each sum in turn.
        const double split = k * 134217729.0;  // 2^27 + 1
        const double k_high = split - (split - k);
        const double k_low = k - k_high;
        return ((k_high * two_pi_1_high - h) + k_high * two_pi_1_low + k_low * two_pi_1_high)
            + k_low * two_pi_1_low;
    }
}

template <bool fused = fast_fma>
inline reduced_angle reduce_angle(double t)
{
    constexpr double integer_rounder = 0x1.8p52;  // x + 1.5*2^52 - 1.5*2^52 = rint(x), |x| < 2^51
    const double k = (t * inverse_two_pi + integer_rounder) - integer_rounder;
    const double h = k * two_pi_1;
    const double l = product_error<fused>(k, h);
    const double u = (t - h) - l;
    return {u - k * two_pi_2, k};
}

}  // namespace puretone
