// The dBFS peak's Ziv loop: see decibel_peak.hpp for the proof of the bound.
#include "decibel_peak.hpp"

#include "constant_bits.hpp"
#include "multiword.hpp"

#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace puretone {
namespace {

constexpr int most_terms = 160;  // b^k/k! < 2^-510 for b < ln 2 once k >= 95: a cap only

template <int N>
bool settle(double decibels, double scale, bool whole, double& peak)
{
    // Step 1, for 2^-60 <= |d| <= 7000.
    const whole_and_fraction<N> z = times_constant<N>(decibels, log2_10_twentieth_bits);
    const auto whole_part = static_cast<int>(z.whole);  // I < 1170
    const fixed<N>& g = z.fraction;
    // Beyond every result: F 2^-I < 2^31 2^-41 < 1/2 gives 0 whole; 2^-I <=
    // 2^-1076, below half the least subnormal, gives 0 as a double.
    if ((whole && whole_part >= 41) || whole_part >= 1076) {
        peak = 0.0;
        return true;
    }
    // Step 2.
    const fixed<N> b = multiply(g, truncated_constant<N>(ln2_bits));
    // Step 3.
    fixed<N> term{};
    term.limb[N - 1] = std::uint64_t{1} << 62;  // 1
    fixed<N> sum = term;
    int terms = 1;
    const fixed<N> small = units<N>(4);
    for (std::uint32_t k = 1; terms < most_terms; ++k) {
        term = divide(multiply(term, b), k);
        sum = k % 2 == 1 ? sub(sum, term) : add(sum, term);
        ++terms;
        if (is_negative(sub(term, small)))  // below 4u: done
            break;
    }
    const fixed<N> bound = units<N>(3 * static_cast<std::uint64_t>(terms) + 9);
    // Step 4.
    fixed<N> value = sum;
    int shift = -whole_part;
    if (whole) {
        value = multiply(sum, from_double<N>(scaled_by_power_of_two(scale, -32)));  // exact: scale < 2^31 whole
        shift = 32 - whole_part;
    }
    const double low = rounded_scaled(sub(value, bound), shift, whole);
    const double high = rounded_scaled(add(value, bound), shift, whole);
    if (low != high)
        return false;
    peak = low;
    return true;
}

}  // namespace

bool decibel_peak(double decibels, double scale, bool whole, double& peak, int* bits)
{
    // |z| < 2^-62 for |d| < 2^-60, so 1 - 2^-z < 2^-62: F (1 - that) is
    // within 1/2 of F, and 1 - that above 1 - 2^-54, the midpoint below 1.
    if (std::fabs(decibels) < 0x1p-60) {
        peak = scale;
        if (bits != nullptr)
            *bits = 0;
        return true;
    }
    // Below -7000 dB, 10^(d/20) < 2^-1162: 0 in every format.
    if (decibels < -7000.0) {
        peak = 0.0;
        if (bits != nullptr)
            *bits = 0;
        return true;
    }
    for (const int precision : {128, 256, 512}) {
        const bool settled = precision == 128   ? settle<2>(decibels, scale, whole, peak)
                             : precision == 256 ? settle<4>(decibels, scale, whole, peak)
                                                : settle<8>(decibels, scale, whole, peak);
        if (settled) {
            if (bits != nullptr)
                *bits = precision;
            return true;
        }
    }
    return false;
}

}  // namespace puretone
