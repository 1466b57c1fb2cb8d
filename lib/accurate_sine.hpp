// The correctly rounded sine of a double, with no multiple-precision
// library: a Ziv loop, first in double-double arithmetic where the angle
// allows (double_double_sine.hpp), then over fixed-point evaluations of
// 128, 256 and 512 bits (multiword.hpp), each with a proven error bound.
//
// For |x| < 2^-26, RN(sin x) = x: |sin x - x| < |x|^3 / 6, below a quarter
// of x's last place (and so below half the place under a power of two)
// once |x|^2 < 6 * 2^-54. Otherwise, at each precision (N limbs, F = 64N - 2
// fraction bits, u = 2^-F):
//  1. Reduction by quarter turns, Payne-Hanek style: x = M 2^e exactly
//     (M < 2^53), and x (2/pi) = M T 2^(e - 704) + M theta 2^(e - 704) with
//     T = floor(2^704 2/pi) (constant_bits.hpp) and 0 <= theta < 1: the dropped
//     part is below |x| 2^-704 < 2^-644 for |x| < 2^60. The exact product
//     M T gives k, the integer nearest x 2/pi (mod 4), and the fraction
//     f = x 2/pi - k, |f| <= 1/2, truncated to F bits: error below u + 2^-644.
//     (For |x| < 1/2 the reduction is skipped: k = 0 and f exact.)
//  2. a = f * pi/2, with pi/2 truncated to F bits: |a| <= pi/4, and
//     |a - (x - k pi/2)| < (pi/2)(u + 2^-644) + u/2 + u < 3.1 u.
//  3. sin a or cos a by Taylor's series, term by term: t_j = t_(j-1) a^2 /
//     ((2j)(2j+1)) (or /((2j-1)(2j))). By induction each t_j is within 3u
//     of the exact term at the stored a: the error carried in is multiplied
//     by a^2 / 6 < 0.11, the product and the division each add below u,
//     and a^2's own error adds below |t_(j-1)| u < u. The sum stops once a
//     term is below 4u; the rest of the series, alternating and decreasing,
//     is below the first term left out, under (4u + 3u) / 6 < 2u. With n
//     terms, the series errs by below (3n + 2) u.
//  4. sin x is (-1)^(k/2) times sin a (k even) or cos a (k odd); as both
//     have slopes of at most 1, the angle's error in 2 adds at most 3.1 u.
// In all |s - sin x| < (3n + 6) u <= error_units(n) u. If s - bound and
// s + bound round to the same double, so does sin x: RN is monotonic.
//
// sin x for a nonzero double x is transcendental (Lindemann-Weierstrass),
// so never a rounding boundary, and some precision settles every x. The
// loop trusts no published worst case: each answer is checked by its own
// bound, and a sine still open at 512 bits is reported (precision -1),
// never guessed. None could be trusted here anyway: the published searches
// for the hardest cases of sin over binary64 (Lefevre and Muller's, and
// CORE-MATH's tables) cover 0 < |x| < 2048 and the top binade only, not the
// angles up to 2^50 that tones reach; the tests take some as checks. Every
// angle of the tests, the doubles next to k pi/2 up to 2^51 among them,
// settles at 128 bits, but for six of those hard cases, between 2^-24 and
// 2^-22, where the fixed point holds fewer of the sine's bits: 256.
#pragma once

#include <cstdint>

namespace puretone {

struct accurate_result {
    double value;   // RN(sin x), when settled
    int precision;  // the bits that settled it: 0 for |x| < 2^-26, 106 (double-double), 128, 256 or 512;
                    // -1 if none did
};

constexpr int double_double_precision = 106;

// |x| < 2^60 (the reduction's domain); else precision -1.
accurate_result accurate_sine(double x);

// The same at one precision, for the tests: 128, 256 or 512 bits.
accurate_result accurate_sine_at(double x, int bits);

// The estimate behind accurate_sine_at, for the tests to hold to its bound:
// s 2^F as `count` 64-bit limbs, two's complement, least significant first
// (F = 64 count - 2), and the bound in units of 2^-F: |s - sin x| is below
// bound_units 2^-F. count is 0 where there is no estimate (|x| < 2^-26,
// |x| >= 2^60, or bits not 128, 256 or 512).
struct accurate_estimate {
    std::uint64_t limbs[8];
    int count;
    std::uint64_t bound_units;
};
accurate_estimate accurate_sine_estimate(double x, int bits);

}  // namespace puretone
