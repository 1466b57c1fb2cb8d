// e^y, e^y - 1 and ln(1 + z) in double-double arithmetic, each with a
// proven relative bound: the sweeps' phases and constants (sweep_phase.hpp).
// No library function, no table beyond 2^(j/64), no state.
//
// u = 2^-53; the operations' bounds are double_double.hpp's.
//
// e^y for |y| <= 32 (y a double-double, |y_low| <= u |y_high|):
//  1. k = rint(RN(y_high RN(64 / ln 2))), |k| < 2^12, so that |y 64/ln 2 -
//     k| <= 1/2 + 2^-40, and d = y - k (ln 2 / 64) with ln 2 / 64 as L1 +
//     L2 + L3 (L1 of 39 bits, so k L1 is exact; the three within 2^-160 of
//     it). k L1 and k L2 are taken exactly and summed by two-sum; what
//     rounds are four sums of low parts and k L3, each within u of a running
//     sum below u |y| + 2^-60: d errs by at most 6 u^2 |y| + 2^-112, and
//     not at all for k = 0 (d = y). |d| < 0.00546 < 2^-7.5.
//  2. e^d - 1 = d q(d), q = 1 + d/2 + d^2/3! + ... + d^5/6! + d^6 T(d):
//     the tail T = 1/7! + d/8! + ... + d^4/11! in double, from d_high, is
//     within 6u/7! + |d|^5/12! + u |d| of itself, which moves q by less than
//     2^-107.8. Horner's steps in double-double, the products within 7 u^2
//     and the sums (to constants each above 100 |d| times the rest) within
//     3 u^2, the constants within u^2: q within 4.3 u^2 of itself, and d q
//     within 12 u^2 (7 for the product).
//  3. e^y = 2^m T_j (1 + (e^d - 1)), k = 64 m + j, 0 <= j < 64, T_j =
//     2^(j/64) within u^2 (the table, from MPFR, checked by the tests):
//     V = T_j + T_j (e^d - 1) within u^2 + 20 u^2 |e^d - 1| + 3 u^2 <=
//     4.2 u^2 of itself, and 2^m is exact (no over- or underflow here).
//     With d's error, e^y errs by at most 4.2 u^2 + 1.01 (6 u^2 |y| +
//     2^-112) relative, below exp_relative_bound = 2^-98 for |y| <= 32.
//  4. e^y - 1: for k = 0, d q itself (12 u^2). Else |y| >= 0.0054 and V 2^m
//     - 1 adds 2 u^2 (DWPlusFP) to V's error times e^y / |e^y - 1|, which
//     is at most 186 there and 1.582 for |y| >= 1:
//       |y| < 1:  (4.2 + 12) u^2 186 + 2^-112 186 + 2 u^2 < 2^-94.4
//       |y| >= 1: (4.2 + 6 * 33) u^2 1.582 + 2 u^2 < 2^-97.6
//     so e^y - 1 errs by at most expm1_relative_bound = 2^-94.
//
// ln(1 + z) for 0 < z <= 2^40 (z and x = 1 + z given separately as
// double-doubles, each within 20 u^2 of itself): Newton's iteration y <- y
// + rho, rho = x e^-y - 1, from a first guess by the exponent. Whatever
// the guess, the result is bounded after the fact: ln x = y + ln(1 + rho)
// and |ln(1 + rho) - rho| <= rho^2 for |rho| <= 1/2, so
//   |ln x - (y + rho^)| <= rho^2 + |rho^ - rho|.
// For x >= 2 (y >= ln 2), rho^ = x e^-y - 1 in double-double: the product
// within (20 + 7) u^2 + 2^-98 < 2^-96.9 of its value near 1, so |rho^ -
// rho| < 2^-96.8. For x < 2, rho = z + e + z e with e = e^-y - 1 (|e| <= y):
// e's error 2^-94 y, z's 20 u^2 z, the product's 7 u^2 z y and three sums'
// 3 u^2 each of terms below z + y + z y: with z <= y / ln 2 (z <= 1), |rho^
// - rho| < 2^-92.9 y. The loop stops once |rho^| <= 2^-55 y, when rho^2 <=
// 2^-110 y^2; the last sum adds 3 u^2. So ln(1 + z) errs by at most
// log_relative_bound = 2^-92 relative (2^-96.8 / ln 2 + ... for x >= 2).
// Should the loop not get there in 16 steps (no input is known to need more
// than 7), the result says so.
#pragma once

#include "lib/double_double.hpp"

namespace puretone {

constexpr double exp_relative_bound = 0x1p-98;
constexpr double expm1_relative_bound = 0x1p-94;
constexpr double log_relative_bound = 0x1p-92;
constexpr double exp_domain = 32.0;  // |y| <= 32

// e^y and e^y - 1 for |y| <= exp_domain, within their bounds. `fused` as
// for two_product: the same bits either way.
template <bool fused>
double_double exp_estimate(double_double y);
template <bool fused>
double_double expm1_estimate(double_double y);

// The same, with FMA where the CPU has it (the same bits, sooner).
double_double exp_quick(double_double y);
double_double expm1_quick(double_double y);

struct logarithm {
    double_double value;  // ln(1 + z), within log_relative_bound of it
    bool settled;         // false where Newton's loop did not close in 16 steps
};

// ln(1 + z) = ln x, for 0 < z <= 2^40, x = 1 + z: both within 20 u^2.
logarithm log1p_estimate(double_double z, double_double x);

// 2^(j/64), 0 <= j < 64, as the table holds it, for the tests.
double_double sixty_fourth_power_of_two(int j);

}  // namespace puretone
