// The accurate path: see accurate_sine.hpp for the proof of the bound.
#include "accurate_sine.hpp"

#include "double_double_sine.hpp"
#include "fixed_sine.hpp"
#include "multiword.hpp"
#include "constant_bits.hpp"

#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace puretone {
namespace {

constexpr double reduction_limit = 0x1p60;   // |x| 2^-704 < 2^-644 below it
constexpr double tiny_angle = 0x1p-26;       // RN(sin x) = x below it
struct reduced {
    int quarter;  // k mod 4
    bool negative_x;
};

// Steps 1 and 2: a = (|x| - k pi/2), truncated to F bits, and k mod 4.
template <int N>
fixed<N> reduce(double x, reduced& r)
{
    r.negative_x = x < 0;
    const double ax = std::fabs(x);
    r.quarter = 0;
    if (ax < 0.5)
        return from_double<N>(ax);  // exact: bits down to 2^-79 at least; a = x itself
    // |x| 2/pi, with |x| in [1/2, 2^60).
    const whole_and_fraction<N> turns = times_constant<N>(ax, two_over_pi_bits);
    r.quarter = static_cast<int>(turns.whole & 3);
    return quarter_turn_angle(turns.fraction, r.quarter);
}

// Steps 1 to 4: s, and its bound in units.
template <int N>
fixed<N> estimate(double x, std::uint64_t& bound_units)
{
    reduced r{};
    const fixed<N> a = reduce<N>(x, r);
    int terms = 0;
    fixed<N> s = sine_past_quarters(a, r.quarter, terms);
    if (r.negative_x)
        s = negate(s);
    bound_units = quarter_turn_error_units(terms);
    return s;
}

template <int N>
accurate_result settle(double x)
{
    std::uint64_t bound_units = 0;
    const fixed<N> s = estimate<N>(x, bound_units);
    const fixed<N> bound = units<N>(bound_units);
    const double low = nearest_double(sub(s, bound)), high = nearest_double(add(s, bound));
    if (low == high && low != 0)
        return {low, 64 * N};
    return {0.0, -1};
}

}  // namespace

accurate_result accurate_sine_at(double x, int bits)
{
    if (!(std::fabs(x) < reduction_limit))
        return {0.0, -1};
    if (std::fabs(x) < tiny_angle)
        return {x, 0};
    switch (bits) {
    case 128:
        return settle<2>(x);
    case 256:
        return settle<4>(x);
    case 512:
        return settle<8>(x);
    default:
        return {0.0, -1};
    }
}

template <int N>
accurate_estimate estimate_of(double x)
{
    accurate_estimate result{};
    const fixed<N> s = estimate<N>(x, result.bound_units);
    for (int k = 0; k < N; ++k)
        result.limbs[k] = s.limb[k];
    result.count = N;
    return result;
}

accurate_estimate accurate_sine_estimate(double x, int bits)
{
    if (!(std::fabs(x) < reduction_limit) || std::fabs(x) < tiny_angle)
        return {};
    switch (bits) {
    case 128:
        return estimate_of<2>(x);
    case 256:
        return estimate_of<4>(x);
    case 512:
        return estimate_of<8>(x);
    default:
        return {};
    }
}

accurate_result accurate_sine(double x)
{
    // Outside the double-double's domain (tiny or huge x) it says so.
    if (const settled_sine quick = double_double_sine(x); quick.settled)
        return {quick.value, double_double_precision};
    for (const int bits : {128, 256, 512}) {
        const accurate_result result = accurate_sine_at(x, bits);
        if (result.precision != -1)
            return result;
    }
    return {0.0, -1};
}

}  // namespace puretone
