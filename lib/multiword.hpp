// Fixed-point numbers of N 64-bit limbs on the stack, for the accurate path:
// no allocation, no global or thread-local state, no 128-bit integer type
// (so the same code runs on 32-bit targets).
//
// fixed<N> holds a two's-complement integer V of 64N bits, least significant
// limb first, and stands for V / 2^F with F = 64N - 2 fraction bits: any
// value in [-2, 2). unit<N> = 2^-F is its last place.
//
// Errors, each proven where the operation is defined:
//  - add, sub, negate: exact (no result here leaves [-2, 2));
//  - multiply, divide by a small integer: the exact result truncated toward
//    zero, so within one unit;
//  - from_double: exact for |x| < 2 with no bit below 2^-F;
//  - shift_left: exact (the caller keeps the result in [-2, 2));
//    shift_right: the magnitude truncated, so within one unit, and exact
//    when no set bit falls off;
//  - divide_wide (by a 63-bit integer, with extra quotient bits): the exact
//    quotient truncated toward zero, so within one unit;
//  - rounded_scaled, nearest_double, rounded_to_format: the exact value
//    rounded once.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace puretone {

template <int N>
struct fixed {
    std::uint64_t limb[N];
};

template <int N>
constexpr int fraction_bits = 64 * N - 2;

// a * b = hi * 2^64 + lo, from four 32-bit products.
inline void multiply_limbs(std::uint64_t a, std::uint64_t b, std::uint64_t& hi, std::uint64_t& lo)
{
    const std::uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);  // < 3 * 2^32
    lo = middle << 32 | (p00 & 0xFFFFFFFFu);
    hi = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
}

// r[0 .. n+m) = a[0 .. n) * b[0 .. m), schoolbook.
inline void multiply_magnitudes(const std::uint64_t* a, int n, const std::uint64_t* b, int m, std::uint64_t* r)
{
    for (int k = 0; k < n + m; ++k)
        r[k] = 0;
    for (int i = 0; i < n; ++i) {
        std::uint64_t carry = 0;
        for (int j = 0; j < m; ++j) {
            std::uint64_t hi, lo;
            multiply_limbs(a[i], b[j], hi, lo);
            const std::uint64_t sum = r[i + j] + lo;
            const std::uint64_t with_carry = sum + carry;
            // hi <= 2^64 - 2, so hi plus two carries fits.
            carry = hi + (sum < lo) + (with_carry < carry);
            r[i + j] = with_carry;
        }
        r[i + m] = carry;  // not yet written by an earlier row
    }
}

// Bits [at, at + 64) of the integer in limbs[0 .. count), zero beyond it.
inline std::uint64_t bits_at(const std::uint64_t* limbs, int count, int at)
{
    const int k = at >> 6, shift = at & 63;
    const std::uint64_t low = k < count ? limbs[k] : 0, high = k + 1 < count ? limbs[k + 1] : 0;
    return shift == 0 ? low : low >> shift | high << (64 - shift);
}

template <int N>
bool is_negative(const fixed<N>& a)
{
    return (a.limb[N - 1] >> 63) != 0;
}

template <int N>
bool is_zero(const fixed<N>& a)
{
    for (int k = 0; k < N; ++k)
        if (a.limb[k] != 0)
            return false;
    return true;
}

template <int N>
fixed<N> add(const fixed<N>& a, const fixed<N>& b)
{
    fixed<N> r{};
    std::uint64_t carry = 0;
    for (int k = 0; k < N; ++k) {
        const std::uint64_t sum = a.limb[k] + b.limb[k];
        r.limb[k] = sum + carry;
        carry = (sum < a.limb[k]) + (r.limb[k] < carry);
    }
    return r;
}

template <int N>
fixed<N> negate(const fixed<N>& a)
{
    fixed<N> r{};
    std::uint64_t carry = 1;
    for (int k = 0; k < N; ++k) {
        r.limb[k] = ~a.limb[k] + carry;
        carry = carry != 0 && r.limb[k] == 0;
    }
    return r;
}

template <int N>
fixed<N> sub(const fixed<N>& a, const fixed<N>& b)
{
    return add(a, negate(b));
}

template <int N>
fixed<N> magnitude(const fixed<N>& a)
{
    return is_negative(a) ? negate(a) : a;
}

// a * b truncated toward zero: |a b| < 2 is the caller's to ensure. The
// magnitudes' product has 2F fraction bits; F of them are dropped.
template <int N>
fixed<N> multiply(const fixed<N>& a, const fixed<N>& b)
{
    const fixed<N> x = magnitude(a), y = magnitude(b);
    std::uint64_t product[2 * N];
    multiply_magnitudes(x.limb, N, y.limb, N, product);
    fixed<N> r{};
    for (int k = 0; k < N; ++k)
        r.limb[k] = bits_at(product, 2 * N, fraction_bits<N> + 64 * k);
    return is_negative(a) != is_negative(b) ? negate(r) : r;
}

// a / d truncated toward zero, for 0 < d < 2^32: long division by 32-bit
// digits, each step's remainder below d, so below 2^32.
template <int N>
fixed<N> divide(const fixed<N>& a, std::uint32_t d)
{
    fixed<N> x = magnitude(a);
    std::uint64_t remainder = 0;
    for (int k = N - 1; k >= 0; --k) {
        const std::uint64_t high = (remainder << 32) | (x.limb[k] >> 32);
        const std::uint64_t q_high = high / d;
        remainder = high % d;
        const std::uint64_t low = (remainder << 32) | (x.limb[k] & 0xFFFFFFFFu);
        const std::uint64_t q_low = low / d;
        remainder = low % d;
        x.limb[k] = q_high << 32 | q_low;
    }
    return is_negative(a) ? negate(x) : x;
}

// |x| = mantissa 2^exponent exactly, with mantissa < 2^53 (2^52 or more for
// x != 0; 0 with exponent -53 for x = 0), for finite x. From the bits, not
// frexp: no call into libm, which the dynamic linker might have to bind
// lazily, on the caller's stack, at the deepest point of a call.
inline std::uint64_t integer_mantissa(double x, int& exponent)
{
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x) & ~(std::uint64_t{1} << 63);
    const int biased = static_cast<int>(bits >> 52);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased != 0) {
        exponent = biased - 1075;
        return mantissa | (std::uint64_t{1} << 52);
    }
    if (mantissa == 0) {
        exponent = -53;
        return 0;
    }
    const int shift = __builtin_clzll(mantissa) - 11;  // subnormal: bring the leading one to bit 52
    exponent = -1074 - shift;
    return mantissa << shift;
}

// m 2^e, for a whole m below 2^54 where the result is a double exactly (so
// e >= -1074 - 53 and e <= 1023): each product below is exact, as the powers
// of two are doubles (2^k from its bits, -1022 <= k <= 1023) and the first
// keeps m normal. ldexp without libm, for the reason above.
inline double scaled_by_power_of_two(double m, int e)
{
    const auto power = [](int k) { return std::bit_cast<double>(static_cast<std::uint64_t>(k + 1023) << 52); };
    if (e < -1022) {
        m *= power(-600);
        e += 600;
    }
    return m * power(e);
}

// |x| C 2^-704 for a constant C of 11 limbs (floor(2^704 c), as in
// constant_bits.hpp), from the exact product: the low 64 bits of its whole
// part, and its fraction truncated to F bits (so in [0, 1), within one
// unit). For x = M 2^e the binary point of M C stands at bit 704 - e, which
// lies within the product's 768 bits for 2^-112 <= |x| < 2^60, and F bits
// below it still above bit 0.
template <int N>
struct whole_and_fraction {
    std::uint64_t whole;
    fixed<N> fraction;
};
template <int N>
whole_and_fraction<N> times_constant(double x, const std::uint64_t (&constant)[11])
{
    int exponent = 0;
    const std::uint64_t mantissa = integer_mantissa(x, exponent);
    std::uint64_t product[12];
    multiply_magnitudes(&mantissa, 1, constant, 11, product);
    const int point = 704 - exponent;
    whole_and_fraction<N> r{bits_at(product, 12, point), {}};
    for (int k = 0; k < N; ++k)
        r.fraction.limb[k] = bits_at(product, 12, point - fraction_bits<N> + 64 * k);
    r.fraction.limb[N - 1] &= (std::uint64_t{1} << 62) - 1;  // the two top bits are whole ones
    return r;
}

// A constant of 8 limbs with 510 fraction bits (constant_bits.hpp),
// truncated to F bits: its top N limbs, as 510 - F is 64 (8 - N).
template <int N>
fixed<N> truncated_constant(const std::uint64_t (&bits)[8])
{
    fixed<N> r{};
    for (int k = 0; k < N; ++k)
        r.limb[k] = bits[8 - N + k];
    return r;
}

// The index of the highest set bit of the integer in limbs[0 .. count), or
// -1 if none is.
inline int leading_bit(const std::uint64_t* limbs, int count)
{
    for (int k = count - 1; k >= 0; --k)
        if (limbs[k] != 0)
            return 64 * k + 63 - __builtin_clzll(limbs[k]);
    return -1;
}

// a 2^-count, count >= 0: the magnitude's bits moved down, those below the
// last place dropped (toward zero).
template <int N>
fixed<N> shift_right(const fixed<N>& a, int count)
{
    const fixed<N> x = magnitude(a);
    fixed<N> r{};
    if (count < 64 * N)
        for (int k = 0; k < N; ++k)
            r.limb[k] = bits_at(x.limb, N, count + 64 * k);
    return is_negative(a) ? negate(r) : r;
}

// a 2^count, count >= 0, exact where the result stays in [-2, 2) (the
// caller's to ensure).
template <int N>
fixed<N> shift_left(const fixed<N>& a, int count)
{
    const fixed<N> x = magnitude(a);
    fixed<N> r{};
    const int words = count >> 6, shift = count & 63;
    for (int k = words; k < N; ++k) {
        r.limb[k] = x.limb[k - words] << shift;
        if (shift != 0 && k - words - 1 >= 0)
            r.limb[k] |= x.limb[k - words - 1] >> (64 - shift);
    }
    return is_negative(a) ? negate(r) : r;
}

// a 2^extra / d truncated toward zero, for 0 < d < 2^63 and extra >= 0,
// where the quotient stays in [-2, 2) (the caller's to ensure): long
// division one bit at a time, its remainder below d, so 2 remainder + 1
// below 2^64.
template <int N>
fixed<N> divide_wide(const fixed<N>& a, std::uint64_t d, int extra)
{
    const fixed<N> x = magnitude(a);
    fixed<N> q{};
    std::uint64_t remainder = 0;
    for (int bit = 64 * N - 1 + extra; bit >= 0; --bit) {
        const int from = bit - extra;  // the dividend's bit: |a|'s, zero below its last place
        remainder = remainder << 1 | (from >= 0 ? (x.limb[from >> 6] >> (from & 63)) & 1 : 0);
        if (remainder >= d) {
            remainder -= d;
            if (bit < 64 * N)  // always, as the quotient fits
                q.limb[bit >> 6] |= std::uint64_t{1} << (bit & 63);
        }
    }
    return is_negative(a) ? negate(q) : q;
}

// A whole number of units: the fixed value k / 2^F.
template <int N>
fixed<N> units(std::uint64_t k)
{
    fixed<N> r{};
    r.limb[0] = k;
    return r;
}

// The fixed value of x, |x| < 2: exact where x has no bit below 2^-F, else
// truncated toward zero.
template <int N>
fixed<N> from_double(double x)
{
    int exponent = 0;
    const std::uint64_t mantissa = integer_mantissa(x, exponent);
    // The mantissa's lowest bit stands at fraction bit F + exponent of the integer.
    const int at = fraction_bits<N> + exponent;
    fixed<N> r{};
    if (x == 0)
        return r;
    if (at >= 0) {
        const int k = at >> 6, shift = at & 63;
        r.limb[k] = mantissa << shift;
        if (shift != 0 && k + 1 < N)
            r.limb[k + 1] = mantissa >> (64 - shift);
    } else if (at > -64) {
        r.limb[0] = mantissa >> -at;
    }
    return x < 0 ? negate(r) : r;
}

// Whether any bit below `at` of the integer in limbs[0 .. count) is set.
inline bool any_bit_below(const std::uint64_t* limbs, int count, int at)
{
    for (int k = 0; k < count && 64 * k < at; ++k) {
        const std::uint64_t mask = 64 * (k + 1) <= at ? ~std::uint64_t{0} : (std::uint64_t{1} << (at - 64 * k)) - 1;
        if ((limbs[k] & mask) != 0)
            return true;
    }
    return false;
}

// The fixed value times 2^shift rounded once to the nearest number of
// `digits` significant bits (at most 53) and no bit below 2^least, ties to
// even: 53 and -1074 for a double, 24 and -149 for a float, whose value the
// double holds exactly. Signed zeros kept.
template <int N>
double rounded_to_format(const fixed<N>& a, int shift, int digits, int least)
{
    const fixed<N> x = magnitude(a);
    const int high_bit = leading_bit(x.limb, N);  // the leading one
    if (high_bit < 0)
        return is_negative(a) ? -0.0 : 0.0;
    // The last bit kept: `digits` bits from the leading one, but none below
    // 2^least, which stands at bit F - shift + least of the integer.
    int low = high_bit - (digits - 1);
    if (low < fraction_bits<N> - shift + least)
        low = fraction_bits<N> - shift + least;
    std::uint64_t mantissa = 0;
    if (low <= 0) {
        mantissa = bits_at(x.limb, N, 0);  // below 2^digits: exact
        low = 0;
    } else {
        mantissa = low > high_bit ? 0 : bits_at(x.limb, N, low) & ((std::uint64_t{1} << digits) - 1);
        const bool round = ((low - 1 > high_bit ? 0 : bits_at(x.limb, N, low - 1)) & 1) != 0;
        if (round && (any_bit_below(x.limb, N, low - 1) || (mantissa & 1) != 0))
            ++mantissa;  // 2^digits at most: still exact as a double
    }
    const double value = scaled_by_power_of_two(static_cast<double>(mantissa), low + shift - fraction_bits<N>);
    return is_negative(a) ? -value : value;
}

// The fixed value times 2^shift, rounded once: with `whole`, to the nearest
// whole number, ties away from zero (for |a 2^shift| < 2^53, shift < F);
// otherwise to the nearest double, ties to even, subnormals included.
template <int N>
double rounded_scaled(const fixed<N>& a, int shift, bool whole)
{
    if (!whole)
        return rounded_to_format(a, shift, 53, -1074);
    const fixed<N> x = magnitude(a);
    // The integer part's bits start at F - shift; the half just below.
    const int point = fraction_bits<N> - shift;
    const std::uint64_t part = bits_at(x.limb, N, point), half = bits_at(x.limb, N, point - 1) & 1;
    const double value = static_cast<double>(part + half);  // below 2^53: exact
    return is_negative(a) ? -value : value;
}

// The double nearest the fixed value, ties to even.
template <int N>
double nearest_double(const fixed<N>& a)
{
    return rounded_scaled(a, 0, false);
}

}  // namespace puretone
