// The fixed-point steps the accurate paths share (accurate_sine.hpp, and
// the sweeps' sweep_accurate.hpp): from a fraction of a quarter turn to an
// angle, and the Taylor series of sin a, cos a and sin(a)/a. Their errors
// are proven in accurate_sine.hpp, steps 2 to 4; u = 2^-F is the last place
// of fixed<N> (multiword.hpp).
#pragma once

#include "constant_bits.hpp"
#include "multiword.hpp"

#include <cstdint>

namespace puretone {

// Taylor terms: a^(2j+1)/(2j+1)! < 2^-510 for |a| <= pi/4 once j >= 62; the
// loop stops earlier, on the term's size, and this only caps it.
constexpr int most_sine_terms = 96;

// The bound of accurate_sine.hpp, step 4, in units: (3n + 6), and one more
// unit for the conversion of s - bound and s + bound being exact additions.
constexpr std::uint64_t quarter_turn_error_units(int terms)
{
    return 3 * static_cast<std::uint64_t>(terms) + 7;
}

// Step 3: t_0 = first, t_j = -t_(j-1) a^2 / ((2j)(2j+1)) (odd: sin a from
// first = a, or sin(a)/a from first = 1) or / ((2j-1)(2j)) (cos a from
// first = 1), summed until a term is below 4u; `square` is a^2 truncated,
// |a| <= pi/4, |first| <= 1. Within (3n + 2) u of the series at the stored
// a, n the terms summed, by the proof of step 3 (which needs of t_0 only
// that it is exact and at most 1).
template <int N>
fixed<N> taylor_series(const fixed<N>& first, const fixed<N>& square, bool odd, int& terms)
{
    fixed<N> term = first;
    fixed<N> sum = term;
    terms = 1;
    const fixed<N> small = units<N>(4);
    for (std::uint32_t j = 1; terms < most_sine_terms; ++j) {
        const std::uint32_t divisor = odd ? (2 * j) * (2 * j + 1) : (2 * j - 1) * (2 * j);
        term = divide(multiply(term, square), divisor);
        term = negate(term);
        sum = add(sum, term);
        ++terms;
        if (!is_negative(sub(magnitude(term), small)))  // |term| >= 4u: go on
            continue;
        break;
    }
    return sum;
}

// sin a (odd) or cos a, |a| <= pi/4.
template <int N>
fixed<N> sine_series(const fixed<N>& a, bool odd, int& terms)
{
    const fixed<N> square = multiply(a, a);
    fixed<N> first = a;
    if (!odd) {
        first = fixed<N>{};
        first.limb[N - 1] = std::uint64_t{1} << 62;  // 1
    }
    return taylor_series(first, square, odd, terms);
}

// Step 1's end and step 2: `quarter` quarter turns (mod 4) and a fraction f
// in [0, 1) of one; the nearest whole number of quarter turns (a fraction
// of 1/2 or more takes one more), and a = (f, or f - 1) pi/2 with pi/2
// truncated to F bits, so |a| <= pi/4, within (pi/2) e + 1.5 u of the
// exact angle if f errs by e.
template <int N>
fixed<N> quarter_turn_angle(fixed<N> f, int& quarter)
{
    quarter &= 3;
    if ((f.limb[N - 1] >> 61) != 0) {
        quarter = (quarter + 1) & 3;
        fixed<N> one{};
        one.limb[N - 1] = std::uint64_t{1} << 62;
        f = sub(f, one);
    }
    return multiply(f, truncated_constant<N>(half_pi_bits));
}

// Step 4: sin(quarter pi/2 + a) from the series of a.
template <int N>
fixed<N> sine_past_quarters(const fixed<N>& a, int quarter, int& terms)
{
    const fixed<N> s = sine_series(a, quarter % 2 == 0, terms);
    return quarter >= 2 ? negate(s) : s;
}

}  // namespace puretone
