// The correctly rounded sine of a double in double-double arithmetic: the
// accurate path's first try, some eight times quicker than its fixed point.
// It settles all but about one angle in 2^29, and says where it cannot.
//
// u = 2^-53. Products of double-doubles err by at most 7 u^2 of their
// result, sums of two by 3 u^2, of a double-double and a double by 2 u^2
// (Joldes, Muller and Popescu, ACM TOMS 2017: DWTimesDW1, AccurateDWPlusDW,
// DWPlusFP; the products' high parts exact, by FMA or Dekker's splits).
// For 2^-26 <= |t| <= half_turn_domain (2^40):
//  1. X = t - k pi as a double-double, within 2^-104.99 (angle_reduction.hpp,
//     reduce_half_turns_exactly), |X| < 1.5711, and sin t = (-1)^k sin X;
//     sin is odd, so X is taken as |X| and its sign carried with (-1)^k.
//  2. j = rint(64 X_high), 0 <= j <= 101, and d = X - j/64 exactly: for j >
//     0, X_high lies in [j/128, 2j/64], so X_high - j/64 is exact (Sterbenz),
//     and the low part is added by two-sum. |d| < 2^-6.99, w = d^2 <
//     2^-13.98 (within 7 u^2).
//  3. sin d = d + d w P(w), P(w) = -1/6 + w/5! - w^2/7! + ... The tail p =
//     1/5! - w/7! + w^2/9! is taken in double by Horner's rule in w's high
//     part: it errs by less than 2^-59 (1/5!'s rounding and the last sum's,
//     2^-60 each; the rest below 2^-78), and the dropped w^3/11! moves P by
//     less than 2^-81.2. a = -1/6 + RN(w_high p): the product rounds by less
//     than 2^-74, w's low part moves it by 2^-73.9 and p's error by 2^-73,
//     so |a - P(w)| < 2^-71.97, and d w a errs by |d| 2^-85.95, its
//     products adding |d| 2^-120 and the last sum, d plus it, 3 u^2 |sin d|
//     = 2^-104.4 |sin d|. So sin d is within 2^-85.9 of itself.
//  4. cos d = 1 + w (-1/2 + w e), e = 1/24 + w f, f = -1/6! + w/8! - w^2/10!
//     in double: f errs by less than 2^-62.42 (its coefficients' roundings
//     and its last sum's), so w f by 2^-76.4, and the product's rounding and
//     w's low part add 2^-76.5 each: e errs by less than 2^-73.4, moving cos
//     d by w^2 2^-73.4 < 2^-101.36. The dropped w^6/12! is below 2^-112.7,
//     and the steps in double-double add about 2^-104: cos d is within
//     2^-101.2 of itself.
//  5. sin X = sin(j/64) cos d + cos(j/64) sin d, the table's values within
//     u^2 of themselves. For j >= 1, |sin X| >= sin((2j - 1)/128) (less X's
//     low part, 2^-53, which changes nothing below), so the sum of the two
//     products' magnitudes is at most 3 |sin X| (j = 1 is the worst), and
//     |d| <= 1.01 |sin X|: step 3's error is 2^-85.8 of sin X, the others'
//     (cos d's, the table's, the two products' and the sum's, each times at
//     most 3) below 2^-98. For j = 0, sin X = sin d.
// In all the estimate h + l (h = RN(h + l)) lies within 2^-85.75 |sin X| +
// 2^-104.99 of sin t, and so within E = 2^-84 |h| + 2^-103: twice each
// part, which covers |h| in place of |sin t| and the rounding of E itself.
// RN(sin t) = h where the whole of [h + l - E, h + l + E] lies strictly
// inside h's rounding interval (double_double_sine).
// The tests check against MPFR the table, the estimate within E, and every
// settled value.
//
// Scalar code for the rare samples that the vector pass leaves open. It
// calls no library function.
#pragma once

#include "lib/double_double.hpp"

namespace puretone {

// The bound E of the estimate below: relative to it, and absolute.
constexpr double double_double_relative_bound = 0x1p-84;   // 2 * 2^-85, above 2 * 2^-85.75
constexpr double double_double_absolute_bound = 0x1p-103;  // 2 * 2^-104, above 2 * 2^-104.99

// The estimate h + l of sin t, within E = double_double_relative_bound |h| +
// double_double_absolute_bound of it, for
// |t| <= half_turn_domain and |t| >= 2^-26 (the tests', and the caller's,
// domain); else {0, 0}.
double_double double_double_sine_estimate(double t);

struct settled_sine {
    double value;  // RN(sin t), where settled
    bool settled;
};

// sin(j/64) and cos(j/64), 0 <= j <= 101, as the table holds them, for the
// tests.
struct sine_cosine {
    double_double sine, cosine;
};
sine_cosine sixty_fourths(int j);

// RN(sin t), or settled = false where the estimate cannot tell it (out of
// the domain above, |sin t| below 2^-900, or within E of a rounding
// boundary).
settled_sine double_double_sine(double t);

// The rounding test on its own: RN(s) = h for an estimate h + l of s known
// within relative |h| + absolute (both already rounded up).
settled_sine settle_double_double(double_double estimate, double relative, double absolute);

// sin(2 pi x) for x in turns, |x_high| <= 1/2 + 2^-20, a double-double whose
// high part is RN of it: steps 2 to 5 above on X = 2 pi |x|, after a fold
// to |x| <= 1/4, exact. X errs by 7.2 u^2 |X| < 2^-100.3 (the product,
// 7 u^2, and 2 pi's own error), so the estimate h + l lies within 2^-85.75
// |sin| + 2^-100.3 of sin(2 pi x): within turn_relative_bound |h| +
// turn_absolute_bound, twice each part as above, plus what x's own error
// moves it by (at most 2 pi times it).
constexpr double turn_relative_bound = 0x1p-84;
constexpr double turn_absolute_bound = 0x1p-99;
double_double turn_sine_estimate(double_double x);

}  // namespace puretone
