// The sweeps' accurate path: see sweep_accurate.hpp for the outline of the
// bounds; each step's proof stands where it is computed. W = n + 1 limbs,
// F_W = 64W - 2 fraction bits, eps = 2^-F_W.
#include "sweep_accurate.hpp"

#include "constant_bits.hpp"
#include "fixed_sine.hpp"
#include "multiword.hpp"

#include <bit>
#include <cstdint>
#include <initializer_list>

namespace puretone {
namespace {

// Series terms: each series below stops on a term below 4 eps long before
// this (atanh's, the slowest, after 184 at 574 bits); a cap only.
constexpr int most_series_terms = 256;
constexpr double inverse_ln2 = 1.4426950408889634;  // within 2^-53 relative
constexpr int scale_bits = 10;                      // exponents' arguments as x / 2^10, |x| < 1024

template <int W>
fixed<W> one()
{
    fixed<W> r{};
    r.limb[W - 1] = std::uint64_t{1} << 62;
    return r;
}

template <int W>
bool below_four_units(const fixed<W>& a)
{
    return is_negative(sub(magnitude(a), units<W>(4)));
}

// m 2^e with 1/2 <= |m| < 1, or m = 0.
template <int W>
struct floating {
    fixed<W> mantissa;
    int exponent;
};

// m 2^e brought to 1/2 <= |m| < 1 (|m| < 2): shifts left are exact; a shift
// right (|m| >= 1) drops one bit, below eps of a result of 1/2 or more:
// < 2 eps relative.
template <int W>
floating<W> normalized(const fixed<W>& m, int exponent)
{
    const fixed<W> x = magnitude(m);
    const int top = leading_bit(x.limb, W), half = fraction_bits<W> - 1;
    if (top < 0)
        return {fixed<W>{}, 0};
    const fixed<W> y = top > half ? shift_right(x, top - half) : shift_left(x, half - top);
    return {is_negative(m) ? negate(y) : y, exponent + top - half};
}

// Exact: an integer has at most 64 bits, a double 53, and F_W >= 190.
template <int W>
floating<W> from_integer(std::uint64_t k)
{
    return normalized(units<W>(k), fraction_bits<W>);
}

template <int W>
floating<W> from_double_exactly(double x)
{
    int exponent = 0;
    const std::uint64_t mantissa = integer_mantissa(x, exponent);
    const floating<W> r = from_integer<W>(mantissa);
    return {x < 0 ? negate(r.mantissa) : r.mantissa, r.exponent + exponent};
}

// The mantissas' product is at least 1/4 and truncated within eps: < 4 eps
// relative; normalizing it shifts left, exactly.
template <int W>
floating<W> times(const floating<W>& a, const floating<W>& b)
{
    return normalized(multiply(a.mantissa, b.mantissa), a.exponent + b.exponent);
}

// a / d, 0 < d < 2^63: with t the bits of d, |m| 2^t / d lies in (1/2, 2),
// truncated within eps (< 2 eps relative), and normalizing drops at most one
// bit more (< 2 eps): < 4 eps.
template <int W>
floating<W> quotient(const floating<W>& a, std::uint64_t d)
{
    const int t = 64 - __builtin_clzll(d);
    return normalized(divide_wide(a.mantissa, d, t), a.exponent - t);
}

// a + b: the smaller aligned to the larger's exponent e, truncated within
// eps 2^e (exact if no set bit falls off), the sum (below 2 in magnitude)
// exact, and normalizing it within 2 eps 2^e more: < 3 eps 2^e. When the
// signs agree the sum is at least 2^(e-1): < 6 eps relative.
template <int W>
floating<W> sum(const floating<W>& a, const floating<W>& b)
{
    if (is_zero(a.mantissa))
        return b;
    if (is_zero(b.mantissa))
        return a;
    const floating<W>& big = a.exponent >= b.exponent ? a : b;
    const floating<W>& small = a.exponent >= b.exponent ? b : a;
    return normalized(add(big.mantissa, shift_right(small.mantissa, big.exponent - small.exponent)), big.exponent);
}

// a 2^-s as a fixed value, truncated within eps; for |a| 2^-s < 2.
template <int W>
fixed<W> to_fixed(const floating<W>& a, int s)
{
    const int shift = s - a.exponent;
    return shift >= 0 ? shift_right(a.mantissa, shift) : shift_left(a.mantissa, -shift);
}

// 1/a for a > 0: r ~ 1/(2m) in (1/2, 1] by Newton's r' = r + r (1 - 2 m r),
// from the double 0.5 / RN(m), within 2^-51 relative. If r = (1 - d)/(2m),
// then 1 - 2 m r = d, and with mr truncated (so 1 - 2mr within 2 eps) and
// r d truncated (eps), r' = (1 - d^2)/(2m) + below 3.01 eps, 6.1 eps
// relative as 1/(2m) >= 1/2: the relative error d becomes d^2 + 6.1 eps.
// From 2^-51, k steps leave 2^-(51 2^k) + 6.2 eps; the loop stops once
// 51 2^k >= F_W: below 7.2 eps, and normalizing r = 1 adds 2 eps: < 10 eps.
template <int W>
floating<W> reciprocal(const floating<W>& a)
{
    const double guess = 0.5 / nearest_double(a.mantissa);
    fixed<W> r = from_double<W>(guess);  // in [1/2, 1]: exact
    for (int bits = 51; bits < fraction_bits<W>; bits *= 2) {
        const fixed<W> product = multiply(a.mantissa, r);
        const fixed<W> d = sub(one<W>(), add(product, product));
        r = add(r, multiply(r, d));
    }
    return normalized(r, 1 - a.exponent);
}

// |k| ln 2 2^-shift truncated to F_W bits, with k's sign, for |k| < 2^11
// and the result below 1: from the exact product of |k| and ln2_long_bits
// (within |k| 2^-638 of |k| ln 2), within eps + 2^-627 < 1.01 eps.
template <int W>
fixed<W> ln2_multiple(int k, int shift)
{
    const std::uint64_t factor = static_cast<std::uint64_t>(k < 0 ? -k : k);
    std::uint64_t product[11];
    multiply_magnitudes(&factor, 1, ln2_long_bits, 10, product);
    fixed<W> r{};
    for (int j = 0; j < W; ++j)
        r.limb[j] = bits_at(product, 11, 638 + shift - fraction_bits<W> + 64 * j);
    return k < 0 ? negate(r) : r;
}

// k ln 2 as a floating number, 1 <= k < 2^11: the product's leading F_W
// bits, within 2 eps relative, and ln2_long_bits' own error, 2^-626 relative.
template <int W>
floating<W> ln2_times(int k)
{
    const std::uint64_t factor = static_cast<std::uint64_t>(k);
    std::uint64_t product[11];
    multiply_magnitudes(&factor, 1, ln2_long_bits, 10, product);
    const int top = leading_bit(product, 11);  // 637 or more
    fixed<W> m{};
    for (int j = 0; j < W; ++j)
        m.limb[j] = bits_at(product, 11, top + 1 - fraction_bits<W> + 64 * j);
    return {m, top + 1 - 638};
}

// e^x for x = X 2^10, |X| < 1: k = the integer nearest x / ln 2 in double
// arithmetic (x/ln 2 within 2^-40 there, so |x/ln 2 - k| < 1/2 + 2^-40),
// r = x - k ln 2 with k ln 2 from ln2_multiple: |r| < 0.3466, and r within
// 2^10 1.01 eps < 1035 eps of x - k ln 2 (the subtraction and the shift are
// exact). Then e^r / 2 = sum r^j / (2 j!): each term t_j = t_(j-1) r / j
// truncated twice is within 3.2 eps of the exact term at r, as the error
// carried in shrinks by |r|/j < 3/8 and each step adds below 2 eps; the sum
// stops at a term below 4 eps, so an exact term below 7.2 eps and a tail
// below 7.2 eps (3/8)/(5/8) < 4.4 eps. n terms: within (3.2 n + 1.2) eps
// of e^r / 2 >= 0.34, (9.5 n + 3.6) eps relative; with r's error and the
// terms at 574 bits (n <= 100, as 0.375^100 / 100! < 2^-660), below
// 2^11 eps relative. The normalizing shift is to the left: exact.
template <int W>
floating<W> exponential(const fixed<W>& scaled)
{
    const double turns = nearest_double(scaled) * 1024.0 * inverse_ln2;
    const int k = static_cast<int>(turns + (turns < 0 ? -0.5 : 0.5));
    const fixed<W> r = shift_left(sub(scaled, ln2_multiple<W>(k, scale_bits)), scale_bits);
    fixed<W> term = shift_right(one<W>(), 1);
    fixed<W> total = term;
    for (std::uint32_t j = 1; j < most_series_terms; ++j) {
        term = divide(multiply(term, r), j);
        total = add(total, term);
        if (below_four_units(term))
            break;
    }
    return normalized(total, k + 1);
}

// E(x) = expm1(x)/x for x > 0, x < 1024 (false above).
//  x < 1/2: x0 = x truncated (eps), and E's series, t_j = t_(j-1) x0 /
//   (j + 1), each within 2.67 eps of the exact term (the error carried in
//   shrinks by x0/(j+1) <= 1/4, each step adds below 2 eps); stopped at a
//   term below 4 eps, a tail below 6.67 eps / 3. n terms: within 2.67 n eps
//   of E(x0), E >= 1 so relative, E(x0) within eps of E(x), and
//   normalizing E < 1.3 adds 2 eps: below (2.67 n + 3) eps, n <= 100
//   (0.5^100 / 101! < 2^-600): below 270 eps.
//  x >= 1/2: x~ = X 2^10, X = x 2^-10 truncated, so E(x~) within 2^10 eps
//   of E(x). e^x~ within 2^11 eps (exponential); e^x~ - 1 >= 0.39 e^x~
//   >= 0.195 2^e for e^x~ = m 2^e, so the sum's 3 eps 2^e are 15.4 eps
//   relative, and e^x~'s error grows by e^x/(e^x - 1) <= 2.55; the
//   reciprocal of x~ (exact as a floating number) adds 10 eps and the
//   product 4: below 2.55 2^11 + 30 < 2^12.4 eps, and 2^12.5 eps of E(x).
template <int W>
bool expm1_quotient(const floating<W>& x, floating<W>& e)
{
    if (x.exponent <= -1) {
        const fixed<W> x0 = to_fixed(x, 0);
        fixed<W> term = one<W>();
        fixed<W> total = term;
        for (std::uint32_t j = 1; j < most_series_terms; ++j) {
            term = divide(multiply(term, x0), j + 1);
            total = add(total, term);
            if (below_four_units(term))
                break;
        }
        e = normalized(total, 0);
        return true;
    }
    if (x.exponent > scale_bits)
        return false;
    const fixed<W> scaled = to_fixed(x, scale_bits);
    const floating<W> minus_one{negate(shift_right(one<W>(), 1)), 1};
    e = times(sum(exponential(scaled), minus_one), reciprocal(normalized(scaled, scale_bits)));
    return true;
}

// lambda = ln(f2/f1), 0 < f1 < f2 (< 2^19): f = m 2^a, m in [2^52, 2^53)
// (subnormals too), and f2/f1 = q 2^k with q = m2/m1 or 2 m2/m1 in [1, 2),
// k >= 0. ln q = 2 s T(s^2), s = (q - 1)/(q + 1) = num/den in [0, 1/3)
// (integers below 2^55), T(v) = sum v^j/(2j + 1) = atanh(s)/s in [1, 1.04).
// s within 4 eps relative (quotient), s0 = s truncated within 2.34 eps,
// v = s0^2 truncated within 2.6 eps of s^2. The powers p_j = p_(j-1) v,
// truncated, stay within 4.05 eps of s^(2j) (the error carried in shrinks
// by v < 1/9; each step adds below 3.6 eps), so each term p_j/(2j + 1)
// within 2.4 eps; the sum stops at a power below 4 eps: the tail is below
// 8.05 eps / 24. n terms: T within (2.4 n + 1) eps, relative as T >= 1;
// normalizing adds 2 eps, s 4 and the product 4: ln q within (2.4 n + 11)
// eps. k ln 2 within 3 eps (ln2_times); the sum of the two, both positive,
// 6 eps more. n <= 184 at 574 bits (9^-184 < 2^-580): below 460 eps, under
// lambda_error_bits. lambda < 1093 ln 2 + ln 2 < 759.
template <int W>
floating<W> log_ratio(double f1, double f2)
{
    int a = 0, b = 0;
    const std::uint64_t m1 = integer_mantissa(f1, a), m2 = integer_mantissa(f2, b);
    int k = b - a;
    std::uint64_t top = m2;
    if (m2 < m1) {
        top = 2 * m2;
        --k;
    }
    const std::uint64_t numerator = top - m1, denominator = top + m1;
    floating<W> lambda{};
    if (numerator != 0) {
        const floating<W> s = quotient(from_integer<W>(numerator), denominator);
        const fixed<W> s0 = to_fixed(s, 0);
        const fixed<W> v = multiply(s0, s0);
        fixed<W> power = one<W>();
        fixed<W> total = power;
        for (std::uint32_t j = 1; j < most_series_terms; ++j) {
            power = multiply(power, v);
            total = add(total, divide(power, 2 * j + 1));
            if (below_four_units(power))
                break;
        }
        lambda = times(s, normalized(total, 1));  // 2 s T
    }
    if (k > 0)
        lambda = sum(lambda, ln2_times<W>(k));
    return lambda;
}

// 2c(i) whole, for the linear kind: 2c = i B / (N R), B = (2N - i) f1 +
// i f2 = +-m1 w1 2^e1 +- m2 w2 2^e2 (w1 = 2N - i, w2 = i), each term's
// integer m w below 2^86. If the exponents differ by more than 116, the
// lower term i m w 2^e has its last set bit below 2^(e + 117), under the
// higher term's last place and under 2^-34 (|f| < 2^19 puts every e at -34
// or below): i B has a bit below 1, so 2c is not whole. Otherwise
// Z = i B 2^-low is an integer below 2^232, exactly, and 2c = Z 2^low /
// (N R) is whole when Z has no set bit below 2^-low and N R divides the rest.
bool on_half_cycle(const sweep_terms& sweep, std::int64_t i)
{
    int e1 = 0, e2 = 0;
    const std::uint64_t m1 = integer_mantissa(sweep.f1, e1), m2 = integer_mantissa(sweep.f2, e2);
    const auto index = static_cast<std::uint64_t>(i), frames = static_cast<std::uint64_t>(sweep.frames);
    if (m1 == 0)
        e1 = e2;
    if (m2 == 0)
        e2 = e1;
    const int low = e1 < e2 ? e1 : e2, high = e1 < e2 ? e2 : e1;
    if (high - low > 116 || low >= 0)
        return false;
    // Each term's magnitude i w m 2^(e - low) (i w < 2^63) in four limbs.
    std::uint64_t term[2][4] = {};
    const std::uint64_t weights[2] = {index * (2 * frames - index), index * index}, mantissas[2] = {m1, m2};
    const int exponents[2] = {e1, e2};
    for (int t = 0; t < 2; ++t) {
        std::uint64_t product[2];
        multiply_magnitudes(&weights[t], 1, &mantissas[t], 1, product);
        const int shift = exponents[t] - low;
        for (int k = 0; k < 4; ++k) {  // product 2^shift: bit b of the result is bit b - shift of product
            const int from = 64 * k - shift;
            term[t][k] = from >= 0 ? bits_at(product, 2, from)
                                   : (from > -64 ? bits_at(product, 2, 0) << -from : 0);
        }
    }
    // Z's magnitude: the sum, or the larger less the smaller.
    const bool same_sign = (sweep.f1 < 0) == (sweep.f2 < 0);
    int larger = 0;
    for (int k = 3; k >= 0; --k)
        if (term[0][k] != term[1][k]) {
            larger = term[0][k] > term[1][k] ? 0 : 1;
            break;
        }
    std::uint64_t z[4];
    std::uint64_t carry = 0;
    for (int k = 0; k < 4; ++k) {
        if (same_sign) {
            const std::uint64_t s = term[0][k] + term[1][k];
            z[k] = s + carry;
            carry = (s < term[0][k]) + (z[k] < carry);
        } else {
            const std::uint64_t x = term[larger][k], y = term[1 - larger][k];
            z[k] = x - y - carry;
            carry = (x < y) || (x - y < carry);
        }
    }
    if (leading_bit(z, 4) < 0)
        return true;  // B = 0
    if (any_bit_below(z, 4, -low))
        return false;
    std::uint64_t rest[4];
    for (int k = 0; k < 4; ++k)
        rest[k] = bits_at(z, 4, -low + 64 * k);
    // Divisible by N, then by R: long division by 32-bit digits.
    for (const std::uint64_t divisor : {frames, static_cast<std::uint64_t>(sweep.rate)}) {
        std::uint64_t remainder = 0;
        for (int k = 3; k >= 0; --k) {
            const std::uint64_t high_part = (remainder << 32) | (rest[k] >> 32);
            const std::uint64_t q_high = high_part / divisor;
            remainder = high_part % divisor;
            const std::uint64_t low_part = (remainder << 32) | (rest[k] & 0xFFFFFFFFu);
            remainder = low_part % divisor;
            rest[k] = q_high << 32 | low_part / divisor;
        }
        if (remainder != 0)
            return false;
    }
    return true;
}

bool in_domain(const sweep_terms& sweep, std::int64_t i)
{
    if (sweep.rate < 1 || sweep.rate > 768000 || sweep.frames < 1 || sweep.frames > (std::int64_t{1} << 31) ||
        i < 0 || i >= sweep.frames)
        return false;
    const double nyquist = 0.5 * sweep.rate;
    if (!(sweep.f1 >= -nyquist && sweep.f1 <= nyquist && sweep.f2 >= -nyquist && sweep.f2 <= nyquist))
        return false;
    switch (sweep.kind) {
    case sweep_kind::linear:
        return true;
    case sweep_kind::exponential:
        return sweep.f1 > 0 && sweep.f1 < sweep.f2;
    case sweep_kind::synchronized:
        return sweep.f1 > 0 && sweep.f1 < sweep.f2 && sweep.whole_cycles >= 1 &&
               sweep.whole_cycles <= (std::int64_t{1} << 62);
    }
    return false;
}

// c(i), i > 0, within phase_error_bits (sweep_accurate.hpp): false where
// the synchronized kind's x reaches 1024.
template <int W>
bool phase(const sweep_terms& sweep, std::int64_t i, floating<W>& c)
{
    const auto index = static_cast<std::uint64_t>(i), frames = static_cast<std::uint64_t>(sweep.frames);
    if (sweep.kind == sweep_kind::linear) {
        const floating<W> b = sum(times(from_double_exactly<W>(sweep.f1), from_integer<W>(2 * frames - index)),
                                  times(from_double_exactly<W>(sweep.f2), from_integer<W>(index)));
        c = quotient(quotient(times(b, from_integer<W>(index)), frames), sweep.rate);
        c.exponent -= 1;
        return true;
    }
    const floating<W> g = quotient(times(from_double_exactly<W>(sweep.f1), from_integer<W>(index)), sweep.rate);
    const floating<W> x =
        sweep.kind == sweep_kind::exponential
            ? quotient(times(log_ratio<W>(sweep.f1, sweep.f2), from_integer<W>(index)), frames)
            : quotient(g, static_cast<std::uint64_t>(sweep.whole_cycles));
    floating<W> e{};
    if (!expm1_quotient(x, e))
        return false;
    c = times(g, e);
    return true;
}

// sin(2 pi c(i)) within bound_units 2^(shift - F) of value 2^shift, F the
// fraction bits of fixed<N>; `exact` where it is exactly 0.
template <int N>
struct sine_estimate {
    fixed<N> value;
    int shift;
    std::uint64_t bound_units;
    bool exact;
};

template <int N>
bool estimate_sine(const sweep_terms& sweep, std::int64_t i, sine_estimate<N>& estimate, floating<N + 1>& c)
{
    estimate = {};
    if (i == 0 || (sweep.kind == sweep_kind::linear && on_half_cycle(sweep, i))) {
        estimate.exact = true;
        return true;
    }
    if (!phase(sweep, i, c))
        return false;
    const fixed<N + 1> m = magnitude(c.mantissa);
    int terms = 0;
    if (c.exponent <= -3) {
        // |c| < 1/8: y = (m pi/2) 2^(e+2), sin y = y S(y) (sweep_accurate.hpp).
        fixed<N> top{};
        for (int k = 0; k < N; ++k)
            top.limb[k] = m.limb[k + 1];  // m truncated to F bits
        const fixed<N> y = multiply(top, truncated_constant<N>(half_pi_bits));
        const fixed<N> a = shift_right(y, -(c.exponent + 2));
        const fixed<N> ratio = taylor_series(one<N>(), multiply(a, a), true, terms);
        estimate.value = multiply(ratio, y);
        estimate.shift = c.exponent + 2;
        estimate.bound_units = small_angle_error_units(terms);
    } else if (c.exponent <= 32) {
        // 4|c| = m 2^(e+2): its binary point at bit F_W - e - 2 of m's integer.
        const int point = fraction_bits<N + 1> - c.exponent - 2;
        int quarter = static_cast<int>(bits_at(m.limb, N + 1, point) & 3);
        fixed<N> f{};
        for (int k = 0; k < N; ++k)
            f.limb[k] = bits_at(m.limb, N + 1, point - fraction_bits<N> + 64 * k);
        f.limb[N - 1] &= (std::uint64_t{1} << 62) - 1;  // the two top bits are whole ones
        const fixed<N> a = quarter_turn_angle(f, quarter);
        estimate.value = sine_past_quarters(a, quarter, terms);
        estimate.bound_units = quarter_turn_error_units(terms);
    } else {
        return false;  // beyond |c| < 2^32, which the domain keeps to
    }
    if (is_negative(c.mantissa))
        estimate.value = negate(estimate.value);
    return true;
}

template <int N>
bool estimate_sine(const sweep_terms& sweep, std::int64_t i, sine_estimate<N>& estimate)
{
    floating<N + 1> c{};
    return estimate_sine(sweep, i, estimate, c);
}

template <int N>
sweep_estimate estimate_of(const sweep_terms& sweep, std::int64_t i)
{
    sweep_estimate result{};
    sine_estimate<N> estimate{};
    floating<N + 1> c{};
    if (!estimate_sine(sweep, i, estimate, c) || estimate.exact)
        return result;
    for (int k = 0; k <= N; ++k)
        result.phase[k] = c.mantissa.limb[k];
    result.phase_exponent = c.exponent;
    for (int k = 0; k < N; ++k)
        result.sine[k] = estimate.value.limb[k];
    result.shift = estimate.shift;
    result.bound_units = estimate.bound_units;
    result.count = N;
    return result;
}

// Whether value 2^shift +- bound units round alike (signed zeros told
// apart) to `digits` bits with none below 2^least; if so, to `rounded`.
template <int N>
bool settled(const fixed<N>& value, int shift, std::uint64_t bound, int digits, int least, double& rounded)
{
    const fixed<N> margin = units<N>(bound);
    const double low = rounded_to_format(sub(value, margin), shift, digits, least);
    const double high = rounded_to_format(add(value, margin), shift, digits, least);
    rounded = low;
    return std::bit_cast<std::uint64_t>(low) == std::bit_cast<std::uint64_t>(high);
}

template <int N>
accurate_result sine_at(const sweep_terms& sweep, std::int64_t i)
{
    sine_estimate<N> estimate{};
    if (!estimate_sine(sweep, i, estimate))
        return {0.0, -1};
    if (estimate.exact)
        return {0.0, 0};
    double value = 0.0;
    if (!settled(estimate.value, estimate.shift, estimate.bound_units, 53, -1074, value))
        return {0.0, -1};
    return {value, 64 * N};
}

// The inverse sample (sweep_accurate.hpp), j < N - 1 and both gains != 0.
template <int N>
inverse_result inverse_at(const sweep_terms& sweep, std::int64_t j, double gain_in, double gain_out)
{
    constexpr int W = N + 1;
    sine_estimate<N> estimate{};
    if (!estimate_sine(sweep, sweep.frames - 1 - j, estimate))
        return {0.0f, -1};
    const auto index = static_cast<std::uint64_t>(j), frames = static_cast<std::uint64_t>(sweep.frames);
    const floating<W> f1 = from_double_exactly<W>(sweep.f1), f2 = from_double_exactly<W>(sweep.f2);
    floating<W> k{}, y{};
    if (sweep.kind == sweep_kind::exponential) {
        const floating<W> lambda = log_ratio<W>(sweep.f1, sweep.f2);
        k = quotient(quotient(times(f2, lambda), sweep.rate), frames);
        y = quotient(times(lambda, from_integer<W>(index)), frames);
    } else {
        const auto cycles = static_cast<std::uint64_t>(sweep.whole_cycles);
        k = quotient(quotient(quotient(times(f1, f2), sweep.rate), sweep.rate), cycles);
        y = quotient(quotient(times(f1, from_integer<W>(index)), sweep.rate), cycles);
    }
    k.exponent += 2;
    if (y.exponent > scale_bits)
        return {0.0f, -1};
    const floating<W> gains = times(from_double_exactly<W>(gain_in), from_double_exactly<W>(gain_out));
    const floating<W> a = times(times(k, exponential(negate(to_fixed(y, scale_bits)))), gains);
    const fixed<W> am = magnitude(a.mantissa);
    fixed<N> top{};
    for (int q = 0; q < N; ++q)
        top.limb[q] = am.limb[q + 1];
    const fixed<N> product = multiply(is_negative(a.mantissa) ? negate(top) : top, estimate.value);
    double value = 0.0;
    if (!settled(product, a.exponent + estimate.shift, inverse_error_units(estimate.bound_units), 24, -149, value))
        return {0.0f, -1};
    return {static_cast<float>(value), 64 * N};  // a float's value: exact
}

// Q 2^e (Q >= 0 a fixed value, below 2^63 in all) rounded to a whole
// number, ties away from zero or to even; false at 2^63 or more.
template <int W>
bool whole_number(const fixed<W>& m, int exponent, bool ties_to_even, std::uint64_t& whole)
{
    if (exponent > 63)
        return false;
    const int point = fraction_bits<W> - exponent;  // >= F_W - 63 > 0
    const std::uint64_t part = bits_at(m.limb, W, point);
    const bool half = (bits_at(m.limb, W, point - 1) & 1) != 0;
    const bool beyond_half = any_bit_below(m.limb, W, point - 1);
    whole = part + (half && (!ties_to_even || beyond_half || (part & 1) != 0));
    return true;
}

// Both ends of Q 2^e +- length_error_units: 1 when they round alike (to
// `whole`), 0 when they do beyond `limit`, -1 otherwise.
template <int W>
int settled_whole(const floating<W>& q, bool ties_to_even, std::uint64_t limit, std::uint64_t& whole)
{
    const fixed<W> margin = units<W>(length_error_units);
    std::uint64_t low = 0, high = 0;
    const bool low_fits = whole_number(sub(q.mantissa, margin), q.exponent, ties_to_even, low);
    const bool high_fits = whole_number(add(q.mantissa, margin), q.exponent, ties_to_even, high);
    if (!low_fits || low > limit)
        return 0;  // the value rounds to low at least: beyond the limit
    if (!high_fits || low != high)
        return -1;
    whole = low;
    return 1;
}

// 1: settled within the limits; 0: settled outside them; -1: open.
template <int W>
int length_at(double f1, double f2, std::uint32_t rate, std::int64_t asked, std::int64_t& whole_cycles,
              std::int64_t& frames)
{
    const floating<W> lambda = log_ratio<W>(f1, f2);
    const floating<W> t = quotient(from_integer<W>(static_cast<std::uint64_t>(asked)), rate);
    const floating<W> q = times(times(from_double_exactly<W>(f1), t), reciprocal(lambda));
    std::uint64_t m = 0;
    const int m_settled = settled_whole(q, false, std::uint64_t{1} << 62, m);
    if (m_settled != 1)
        return m_settled;
    if (m == 0)
        return 0;
    // R M lambda / f1, f1 = m1 2^a.
    int a = 0;
    const std::uint64_t m1 = integer_mantissa(f1, a);
    floating<W> n = quotient(times(times(from_integer<W>(rate), from_integer<W>(m)), lambda), m1);
    n.exponent -= a;
    std::uint64_t count = 0;
    const int n_settled = settled_whole(n, true, std::uint64_t{1} << 31, count);
    if (n_settled != 1)
        return n_settled;
    if (count == 0)
        return 0;
    whole_cycles = static_cast<std::int64_t>(m);
    frames = static_cast<std::int64_t>(count);
    return 1;
}

}  // namespace

accurate_result accurate_sweep_sine_at(const sweep_terms& sweep, std::int64_t i, int bits)
{
    if (!in_domain(sweep, i))
        return {0.0, -1};
    switch (bits) {
    case 128:
        return sine_at<2>(sweep, i);
    case 256:
        return sine_at<4>(sweep, i);
    case 512:
        return sine_at<8>(sweep, i);
    default:
        return {0.0, -1};
    }
}

sweep_estimate accurate_sweep_estimate(const sweep_terms& sweep, std::int64_t i, int bits)
{
    if (!in_domain(sweep, i))
        return {};
    switch (bits) {
    case 128:
        return estimate_of<2>(sweep, i);
    case 256:
        return estimate_of<4>(sweep, i);
    case 512:
        return estimate_of<8>(sweep, i);
    default:
        return {};
    }
}

accurate_result accurate_sweep_sine(const sweep_terms& sweep, std::int64_t i)
{
    for (const int bits : {128, 256, 512}) {
        const accurate_result result = accurate_sweep_sine_at(sweep, i, bits);
        if (result.precision != -1)
            return result;
    }
    return {0.0, -1};
}

bool synchronized_length(double f1, double f2, std::uint32_t rate, std::int64_t asked_frames,
                         std::int64_t& whole_cycles, std::int64_t& frames)
{
    if (!(f1 > 0 && f1 < f2 && f2 < 0x1p19) || rate < 1 || asked_frames < 1)
        return false;
    for (const int bits : {128, 256, 512}) {
        const int result = bits == 128   ? length_at<3>(f1, f2, rate, asked_frames, whole_cycles, frames)
                           : bits == 256 ? length_at<5>(f1, f2, rate, asked_frames, whole_cycles, frames)
                                         : length_at<9>(f1, f2, rate, asked_frames, whole_cycles, frames);
        if (result != -1)
            return result == 1;
    }
    return false;
}

inverse_result accurate_inverse_sample(const sweep_terms& sweep, std::int64_t j, double gain_in, double gain_out)
{
    if (sweep.kind == sweep_kind::linear || !in_domain(sweep, j) || !(gain_in - gain_in == 0) ||
        !(gain_out - gain_out == 0))
        return {0.0f, -1};
    if (gain_in == 0 || gain_out == 0 || j == sweep.frames - 1)
        return {0.0f, 0};
    for (const int bits : {128, 256, 512}) {
        const inverse_result result = bits == 128   ? inverse_at<2>(sweep, j, gain_in, gain_out)
                                      : bits == 256 ? inverse_at<4>(sweep, j, gain_in, gain_out)
                                                    : inverse_at<8>(sweep, j, gain_in, gain_out);
        if (result.precision != -1)
            return result;
    }
    return {0.0f, -1};
}

}  // namespace puretone
