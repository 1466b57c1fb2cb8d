// Double-double arithmetic: a value as the unevaluated sum of two doubles,
// high = RN(high + low), and the operations on such pairs with their proven
// bounds. u = 2^-53. Every operation rounds to nearest, once (built with
// -ffp-contract=off).
//
// Always inlined, with no call to a library function but std::fma where
// `fused` (compiled to the instruction): files and functions built for wider
// instruction sets get their own copies, as in angle_reduction.hpp.
#pragma once

#include <cmath>

namespace puretone {

struct double_double {
    double high, low;
};

// Knuth's two-sum: a + b = s + e exactly.
[[gnu::always_inline]] inline double_double two_sum(double a, double b)
{
    const double s = a + b;
    const double back = s - a;
    return {s, (a - (s - back)) + (b - back)};
}

// The same where |a| >= |b| (or a = 0): Dekker's fast two-sum.
[[gnu::always_inline]] inline double_double fast_two_sum(double a, double b)
{
    const double s = a + b;
    return {s, b - (s - a)};
}

// a b = p + e exactly, where nothing overflows and e lies above the
// subnormal range. `fused` says only which form is quicker here; both give
// the same bits.
template <bool fused>
[[gnu::always_inline]] inline double_double two_product(double a, double b)
{
    const double p = a * b;
    if constexpr (fused) {
        return {p, std::fma(a, b, -p)};
    } else {
        // Veltkamp's splits into halves of at most 26 bits, whose partial
        // products are exact (Dekker).
        const double split_a = a * 134217729.0, split_b = b * 134217729.0;  // 2^27 + 1
        const double a_high = split_a - (split_a - a), a_low = a - a_high;
        const double b_high = split_b - (split_b - b), b_low = b - b_high;
        return {p, ((a_high * b_high - p) + a_high * b_low + a_low * b_high) + a_low * b_low};
    }
}

// Products and sums of double-doubles: Joldes, Muller and Popescu's
// DWTimesDW1 (within 7 u^2) and AccurateDWPlusDW (within 3 u^2).
template <bool fused>
[[gnu::always_inline]] inline double_double times(double_double x, double_double y)
{
    const double_double product = two_product<fused>(x.high, y.high);
    const double cross = x.high * y.low + x.low * y.high;
    return fast_two_sum(product.high, product.low + cross);
}

[[gnu::always_inline]] inline double_double plus(double_double x, double_double y)
{
    const double_double high = two_sum(x.high, y.high);
    const double_double low = two_sum(x.low, y.low);
    const double_double v = fast_two_sum(high.high, high.low + low.high);
    return fast_two_sum(v.high, low.low + v.low);
}

// The sum of two double-doubles of the same sign (x_high y_high >= 0),
// within 3.01 u^2 of it, at half the cost of plus: (s, e) = two_sum of the
// high parts, exactly, |e| <= u |s|; t = RN(x_low + y_low) errs by u |x_low +
// y_low| <= u^2 (|x_high| + |y_high|) = u^2 |x_high + y_high|, the signs
// being the same; v = RN(e + t) by u |e + t| <= u^2 |s| + u^2 |x_high +
// y_high| (1 + u); the last step is exact (|v| <= |s|). So 3 u^2 |x_high +
// y_high| (1 + u), and |x_high + y_high| <= |x + y| (1 + 2u).
[[gnu::always_inline]] inline double_double plus_same_sign(double_double x, double_double y)
{
    const double_double high = two_sum(x.high, y.high);
    return fast_two_sum(high.high, high.low + (x.low + y.low));
}

// Add a double to a double-double: Joldes, Muller and Popescu's DWPlusFP
// (within 2 u^2).
[[gnu::always_inline]] inline double_double plus(double_double x, double y)
{
    const double_double high = two_sum(x.high, y);
    return fast_two_sum(high.high, x.low + high.low);
}

// x / y, for y != 0, within 20 u^2 of itself, nothing over- or underflowing:
// q1 = RN(x_high / y_high), and the remainder r = x - q1 y, whose exact
// part x_high - q1 y_high takes no rounding (the product exactly, by
// two_product, and x_high less its high part by Sterbenz: they differ by
// at most 2u). |r| < 3u |x|; its three further sums each round by u of a
// running sum below 4u |x|, and the product q1 y_low by u^2 |x| (1 + u):
// r errs by 13 u^2 |x|. q2 = RN(r / y_high) then errs by u |q2| from its
// rounding and by 1.01 u |r / y| from y_low (|y_low| <= u |y_high|), each
// within 3 u^2 |x / y|. The pair is exact. In all 19 u^2 |x / y|, and 20
// u^2 with the (1 + u) factors.
template <bool fused>
[[gnu::always_inline]] inline double_double divided(double_double x, double_double y)
{
    const double q1 = x.high / y.high;
    const double_double p = two_product<fused>(q1, y.high);
    const double r = (((x.high - p.high) - p.low) + x.low) - q1 * y.low;
    return fast_two_sum(q1, r / y.high);
}

}  // namespace puretone
