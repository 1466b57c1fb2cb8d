// The correctly rounded sine of a double in double-double arithmetic: the
// accurate path's first try, some ten times quicker than its fixed point.
// It settles all but about one angle in 2^36, and says where it cannot.
//
// For |t| <= half_turn_domain (2^40):
//  1. X = t - k pi as a double-double c + r, within 2^-104.99
//     (angle_reduction.hpp, reduce_half_turns_exactly), |X| < 1.5711, and
//     sin t = (-1)^k sin X.
//  2. sin X = X S(z), z = X^2, S(z) = sum over n of (-1)^n z^n / (2n+1)!.
//     With u = 2^-53, z <= 2.4684 and S >= sin(1.5711) / 1.5711 > 0.636:
//     - terms n >= 16 are dropped: alternating and decreasing, they sum to
//       less than z^16 / 33! < 2^-101.9;
//     - terms 9 to 15 are summed in double, by Horner's rule in z's high
//       part, as q: below 2^-45 in all (z^9 / 19!), each coefficient rounded
//       and each of the 12 operations rounding once, with every partial sum
//       within 1% of its first term (the ratio of terms is z / 420 < 0.006),
//       so q errs by less than 16 u of itself: 2^-94.2 of S;
//     - terms 0 to 8 by Horner's rule in double-double, coefficients to
//       within u^2 of themselves. Each double-double product (with exact
//       two_product) errs by at most 7 u^2 of its result, and each sum by
//       at most 3 u^2 (Joldes, Muller and Popescu, ACM TOMS 2017); the
//       terms alternate with ratios below 0.42, so no sum cancels, and the
//       partial results' errors, carried by the powers of z, add up to at
//       most 11 u^2 (sinh 1.5711 / 1.5711 = 1.47) < 2^-102 of S; z itself,
//       a product of c + r by itself, errs by 7 u^2 of z, moving S by less
//       than z |S'(z)| 7 u^2 < 3 u^2;
//     - the final product X S adds 7 u^2.
//     Relative to sin X: 2^-101.2 + 2^-93.5 + 2^-101.3 + 2^-103.4 + 2^-103
//     < 2^-93.3; and the reduction's 2^-104.99 absolute (sin is 1-Lipschitz).
//  3. The estimate h + l (h = RN(h + l)) then lies within E = 2^-91 |h| +
//     2^-103 of sin t: twice each part above, which covers |h| in place of
//     |sin t| and the rounding of E itself. RN(sin t) = h where the whole of
//     [h + l - E, h + l + E] lies strictly inside h's rounding interval
//     (settled_double).
// Every step is checked against MPFR in the tests: the estimate within E,
// and the value equal to MPFR's rounding.
//
// Scalar code for the rare samples that the vector pass leaves open. It
// calls no library function: products are exact by FMA where it is fast,
// else by Dekker's splits.
#pragma once

namespace puretone {

struct double_double {
    double high, low;
};

// The bound E of the estimate below: relative to it, and absolute.
constexpr double double_double_relative_bound = 0x1p-91;  // 2 * 2^-92 > 2 * 2^-93.3, rounded up
constexpr double double_double_absolute_bound = 0x1p-103;  // 2 * 2^-104, above 2 * 2^-104.99

// The estimate of sin t, within double_double_bound(high) of it, for
// |t| <= half_turn_domain and |t| >= 2^-26 (the tests', and the caller's,
// domain); else {0, 0}.
double_double double_double_sine_estimate(double t);

struct settled_sine {
    double value;  // RN(sin t), where settled
    bool settled;
};

// RN(sin t), or settled = false where the estimate cannot tell it (out of
// the domain above, |sin t| below 2^-900, or within E of a rounding
// boundary).
settled_sine double_double_sine(double t);

}  // namespace puretone
