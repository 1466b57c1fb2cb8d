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

// Add a double to a double-double: Joldes, Muller and Popescu's DWPlusFP
// (within 2 u^2).
[[gnu::always_inline]] inline double_double plus(double_double x, double y)
{
    const double_double high = two_sum(x.high, y);
    return fast_two_sum(high.high, x.low + high.low);
}

}  // namespace puretone
