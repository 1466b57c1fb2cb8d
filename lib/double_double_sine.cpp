// The sine in double-double arithmetic, and its rounding test. Proofs in
// double_double_sine.hpp.
#include "lib/double_double_sine.hpp"

#include "lib/angle_reduction.hpp"

#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
#include "lib/cpu_features.hpp"
#endif

#include <cmath>
#include <cstdint>

namespace puretone {
namespace {

// Always inlined, so that the copy built for CPUs with FMA (below) has its
// own: `fused` says only which exact product is quicker; both give the same
// bits.

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

// a b = p + e exactly (no overflow, and e above the subnormal range: the
// values here lie between 2^-400 and 2^2).
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

// (-1)^n / (2n+1)!: n = 1 to 8 as double-doubles (to within u^2 of
// themselves), n = 9 to 15 rounded to double.
constexpr double_double series_head[8] = {
    {-0x1.5555555555555p-3, -0x1.5555555555555p-57}, {0x1.1111111111111p-7, 0x1.1111111111111p-63},
    {-0x1.a01a01a01a01ap-13, -0x1.a01a01a01a01ap-73}, {0x1.71de3a556c734p-19, -0x1.c154f8ddc6c00p-73},
    {-0x1.ae64567f544e4p-26, 0x1.c062e06d1f209p-80}, {0x1.6124613a86d09p-33, 0x1.f28e0cc748ebep-87},
    {-0x1.ae7f3e733b81fp-41, -0x1.1d8656b0ee8cbp-97}, {0x1.952c77030ad4ap-49, 0x1.ac981465ddc6cp-103},
};
constexpr double series_tail[7] = {-0x1.2f49b46814157p-57, 0x1.71b8ef6dcf572p-66, -0x1.761b41316381ap-75,
                                   0x1.3f3ccdd165fa9p-84,  -0x1.d1ab1c2dccea3p-94, 0x1.259f98b4358adp-103,
                                   -0x1.434d2e783f5bcp-113};

// The smallest |h| taken: below it, the splits' partial products and the
// tail's powers could reach the subnormal range, where they are no longer
// exact. Such sines (|t| within 2^-900 of a multiple of pi) go on to the
// fixed point.
constexpr double least_sine = 0x1p-900;

// The bits of a double's magnitude.
std::uint64_t magnitude_bits(double x)
{
    return __builtin_bit_cast(std::uint64_t, x) & ~(std::uint64_t{1} << 63);
}

template <bool fused>
[[gnu::always_inline]] inline double_double estimate(double t)
{
    const half_turn_double_double reduced = reduce_half_turns_exactly<fused>(t);
    const double_double x = two_sum(reduced.c, reduced.r);
    const double_double z = times<fused>(x, x);
    double q = series_tail[6];
    for (int n = 5; n >= 0; --n)
        q = q * z.high + series_tail[n];
    double_double s = plus(series_head[7], two_product<fused>(z.high, q));
    for (int n = 6; n >= 0; --n)
        s = plus(times<fused>(s, z), series_head[n]);
    s = plus(times<fused>(s, z), {1.0, 0.0});
    const double_double sine = times<fused>(x, s);
    return {with_sign(sine.high, reduced.sign), with_sign(sine.low, reduced.sign)};
}

#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
__attribute__((target("fma"))) double_double estimate_with_fma(double t)
{
    return estimate<true>(t);
}
#endif

}  // namespace

double_double double_double_sine_estimate(double t)
{
    if (!(std::fabs(t) <= half_turn_domain) || std::fabs(t) < 0x1p-26)
        return {0.0, 0.0};
#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
    if (widest_kernel_isa() != kernel_isa::baseline)
        return estimate_with_fma(t);
#endif
    return estimate<fast_fma>(t);
}

// RN(sin t) = h where [h + l - E, h + l + E] lies strictly inside h's
// rounding interval: h plus or minus half the gap to its neighbour on each
// side. For normal |h| with exponent e the gap away from zero is 2^(e-52),
// and toward zero the same but where |h| is a power of two, there half of
// it. On l's side the test asks RN(|l| + E) < g: were |l| + E >= g, its
// rounding would be >= g too (RN is monotonic, g a double). On the other
// side E < g suffices, as the interval reaches only E - |l| beyond h.
// Every step here is exact but that one rounding.
settled_sine double_double_sine(double t)
{
    const double_double estimate = double_double_sine_estimate(t);
    const double h = estimate.high, l = estimate.low;
    if (!(std::fabs(h) >= least_sine))
        return {0.0, false};
    const double bound = std::fabs(h) * double_double_relative_bound + double_double_absolute_bound;
    const std::uint64_t bits = magnitude_bits(h);
    const std::uint64_t exponent = bits >> 52;  // above 52: |h| >= 2^-900
    const double away = __builtin_bit_cast(double, (exponent - 53) << 52);  // 2^(e-53): half the gap
    const bool power_of_two = (bits & ((std::uint64_t{1} << 52) - 1)) == 0;
    const double toward = power_of_two ? away * 0.5 : away;
    const bool l_away = (l >= 0) == (h >= 0);
    const double on_side = l_away ? away : toward, other_side = l_away ? toward : away;
    if (std::fabs(l) + bound < on_side && bound < other_side)
        return {h, true};
    return {0.0, false};
}

}  // namespace puretone
