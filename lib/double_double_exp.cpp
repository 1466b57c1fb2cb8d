// e^y, e^y - 1 and ln(1 + z) in double-double arithmetic. Proofs in
// double_double_exp.hpp.
#include "lib/double_double_exp.hpp"

#include "lib/angle_reduction.hpp"

#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
#include "lib/cpu_features.hpp"
#endif

#include <cstdint>

namespace puretone {
namespace {

// 2^(j/64) for j = 0 to 63, each as a double-double within u^2 of itself
// (MPFR, each part rounded to nearest; the tests check every entry).
constexpr double_double powers[64] = {
    {0x1p+0, 0x0p+0},
    {0x1.02c9a3e778061p+0, -0x1.19083535b085dp-56},
    {0x1.059b0d3158574p+0, 0x1.d73e2a475b465p-55},
    {0x1.0874518759bc8p+0, 0x1.186be4bb284ffp-57},
    {0x1.0b5586cf9890fp+0, 0x1.8a62e4adc610bp-54},
    {0x1.0e3ec32d3d1a2p+0, 0x1.03a1727c57b53p-59},
    {0x1.11301d0125b51p+0, -0x1.6c51039449b3ap-54},
    {0x1.1429aaea92dep+0, -0x1.32fbf9af1369ep-54},
    {0x1.172b83c7d517bp+0, -0x1.19041b9d78a76p-55},
    {0x1.1a35beb6fcb75p+0, 0x1.e5b4c7b4968e4p-55},
    {0x1.1d4873168b9aap+0, 0x1.e016e00a2643cp-54},
    {0x1.2063b88628cd6p+0, 0x1.dc775814a8495p-55},
    {0x1.2387a6e756238p+0, 0x1.9b07eb6c70573p-54},
    {0x1.26b4565e27cddp+0, 0x1.2bd339940e9d9p-55},
    {0x1.29e9df51fdee1p+0, 0x1.612e8afad1255p-55},
    {0x1.2d285a6e4030bp+0, 0x1.0024754db41d5p-54},
    {0x1.306fe0a31b715p+0, 0x1.6f46ad23182e4p-55},
    {0x1.33c08b26416ffp+0, 0x1.32721843659a6p-54},
    {0x1.371a7373aa9cbp+0, -0x1.63aeabf42eae2p-54},
    {0x1.3a7db34e59ff7p+0, -0x1.5e436d661f5e3p-56},
    {0x1.3dea64c123422p+0, 0x1.ada0911f09ebcp-55},
    {0x1.4160a21f72e2ap+0, -0x1.ef3691c309278p-58},
    {0x1.44e086061892dp+0, 0x1.89b7a04ef80dp-59},
    {0x1.486a2b5c13cdp+0, 0x1.3c1a3b69062fp-56},
    {0x1.4bfdad5362a27p+0, 0x1.d4397afec42e2p-56},
    {0x1.4f9b2769d2ca7p+0, -0x1.4b309d25957e3p-54},
    {0x1.5342b569d4f82p+0, -0x1.07abe1db13cadp-55},
    {0x1.56f4736b527dap+0, 0x1.9bb2c011d93adp-54},
    {0x1.5ab07dd485429p+0, 0x1.6324c054647adp-54},
    {0x1.5e76f15ad2148p+0, 0x1.ba6f93080e65ep-54},
    {0x1.6247eb03a5585p+0, -0x1.383c17e40b497p-54},
    {0x1.6623882552225p+0, -0x1.bb60987591c34p-54},
    {0x1.6a09e667f3bcdp+0, -0x1.bdd3413b26456p-54},
    {0x1.6dfb23c651a2fp+0, -0x1.bbe3a683c88abp-57},
    {0x1.71f75e8ec5f74p+0, -0x1.16e4786887a99p-55},
    {0x1.75feb564267c9p+0, -0x1.0245957316dd3p-54},
    {0x1.7a11473eb0187p+0, -0x1.41577ee04992fp-55},
    {0x1.7e2f336cf4e62p+0, 0x1.05d02ba15797ep-56},
    {0x1.82589994cce13p+0, -0x1.d4c1dd41532d8p-54},
    {0x1.868d99b4492edp+0, -0x1.fc6f89bd4f6bap-54},
    {0x1.8ace5422aa0dbp+0, 0x1.6e9f156864b27p-54},
    {0x1.8f1ae99157736p+0, 0x1.5cc13a2e3976cp-55},
    {0x1.93737b0cdc5e5p+0, -0x1.75fc781b57ebcp-57},
    {0x1.97d829fde4e5p+0, -0x1.d185b7c1b85d1p-54},
    {0x1.9c49182a3f09p+0, 0x1.c7c46b071f2bep-56},
    {0x1.a0c667b5de565p+0, -0x1.359495d1cd533p-54},
    {0x1.a5503b23e255dp+0, -0x1.d2f6edb8d41e1p-54},
    {0x1.a9e6b5579fdbfp+0, 0x1.0fac90ef7fd31p-54},
    {0x1.ae89f995ad3adp+0, 0x1.7a1cd345dcc81p-54},
    {0x1.b33a2b84f15fbp+0, -0x1.2805e3084d708p-57},
    {0x1.b7f76f2fb5e47p+0, -0x1.5584f7e54ac3bp-56},
    {0x1.bcc1e904bc1d2p+0, 0x1.23dd07a2d9e84p-55},
    {0x1.c199bdd85529cp+0, 0x1.11065895048ddp-55},
    {0x1.c67f12e57d14bp+0, 0x1.2884dff483cadp-54},
    {0x1.cb720dcef9069p+0, 0x1.503cbd1e949dbp-56},
    {0x1.d072d4a07897cp+0, -0x1.cbc3743797a9cp-54},
    {0x1.d5818dcfba487p+0, 0x1.2ed02d75b3707p-55},
    {0x1.da9e603db3285p+0, 0x1.c2300696db532p-54},
    {0x1.dfc97337b9b5fp+0, -0x1.1a5cd4f184b5cp-54},
    {0x1.e502ee78b3ff6p+0, 0x1.39e8980a9cc8fp-55},
    {0x1.ea4afa2a490dap+0, -0x1.e9c23179c2893p-54},
    {0x1.efa1bee615a27p+0, 0x1.dc7f486a4b6bp-54},
    {0x1.f50765b6e454p+0, 0x1.9d3e12dd8a18bp-54},
    {0x1.fa7c1819e90d8p+0, 0x1.74853f3a5931ep-55},
};

constexpr double sixty_four_over_ln2 = 0x1.71547652b82fep+6;
// ln 2 / 64 = L1 + L2 + L3 within 2^-160; L1 has 39 bits.
constexpr double ln2_64_1 = 0x1.62e42fefa4p-7;
constexpr double ln2_64_2 = -0x1.8432a1b0e2634p-49;
constexpr double ln2_64_3 = 0x1.f97b57a079a19p-109;
constexpr double ln2 = 0x1.62e42fefa39efp-1;

// 1/3! to 1/6! as double-doubles, 1/7! to 1/11! rounded to double.
constexpr double_double inverse_factorial_3 = {0x1.5555555555555p-3, 0x1.5555555555555p-57};
constexpr double_double inverse_factorial_4 = {0x1.5555555555555p-5, 0x1.5555555555555p-59};
constexpr double_double inverse_factorial_5 = {0x1.1111111111111p-7, 0x1.1111111111111p-63};
constexpr double_double inverse_factorial_6 = {0x1.6c16c16c16c17p-10, -0x1.f49f49f49f49fp-65};
constexpr double inverse_factorial_7 = 0x1.a01a01a01a01ap-13;
constexpr double inverse_factorial_8 = 0x1.a01a01a01a01ap-16;
constexpr double inverse_factorial_9 = 0x1.71de3a556c734p-19;
constexpr double inverse_factorial_10 = 0x1.27e4fb7789f5cp-22;
constexpr double inverse_factorial_11 = 0x1.ae64567f544e4p-26;

// 2^m for |m| <= 64, exactly.
[[gnu::always_inline]] inline double power_of_two(int m)
{
    return __builtin_bit_cast(double, static_cast<std::uint64_t>(1023 + m) << 52);
}

struct reduced_exponent {
    double_double d;  // y - k ln 2 / 64
    int m, j;         // k = 64 m + j
};

// Step 1.
template <bool fused>
[[gnu::always_inline]] inline reduced_exponent reduce_exponent(double_double y)
{
    const double k = (y.high * sixty_four_over_ln2 + integer_rounder) - integer_rounder;
    const double_double a = two_sum(y.high, -(k * ln2_64_1));
    const double_double p2 = two_product<fused>(k, ln2_64_2);
    const double_double b = two_sum(a.high, -p2.high);
    const double low = (((a.low + y.low) - p2.low) - k * ln2_64_3) + b.low;
    const auto whole = static_cast<int>(k);
    return {two_sum(b.high, low), whole >> 6, whole & 63};  // an arithmetic shift: floor(k / 64)
}

// Step 2: e^d - 1.
template <bool fused>
[[gnu::always_inline]] inline double_double expm1_near_zero(double_double d)
{
    const double h = d.high;
    const double tail =
        (((inverse_factorial_11 * h + inverse_factorial_10) * h + inverse_factorial_9) * h + inverse_factorial_8) * h
        + inverse_factorial_7;
    double_double q = plus(inverse_factorial_6, times<fused>(d, {tail, 0.0}));
    q = plus(inverse_factorial_5, times<fused>(q, d));
    q = plus(inverse_factorial_4, times<fused>(q, d));
    q = plus(inverse_factorial_3, times<fused>(q, d));
    q = plus(times<fused>(q, d), 0.5);
    q = plus(times<fused>(q, d), 1.0);
    return times<fused>(d, q);
}

// Step 3: e^y as 2^m V.
template <bool fused>
[[gnu::always_inline]] inline double_double exp_of(const reduced_exponent& r, double_double e)
{
    const double_double t = powers[r.j];
    const double_double v = plus(t, times<fused>(t, e));
    const double scale = power_of_two(r.m);
    return {v.high * scale, v.low * scale};
}

template <bool fused>
[[gnu::always_inline]] inline double_double exp_inline(double_double y)
{
    const reduced_exponent r = reduce_exponent<fused>(y);
    return exp_of<fused>(r, expm1_near_zero<fused>(r.d));
}

template <bool fused>
[[gnu::always_inline]] inline double_double expm1_inline(double_double y)
{
    const reduced_exponent r = reduce_exponent<fused>(y);
    const double_double e = expm1_near_zero<fused>(r.d);
    if (r.m == 0 && r.j == 0)
        return e;
    return plus(exp_of<fused>(r, e), -1.0);
}

#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
__attribute__((target("fma"))) double_double exp_with_fma(double_double y)
{
    return exp_inline<true>(y);
}

__attribute__((target("fma"))) double_double expm1_with_fma(double_double y)
{
    return expm1_inline<true>(y);
}
#endif

}  // namespace

template <bool fused>
double_double exp_estimate(double_double y)
{
    return exp_inline<fused>(y);
}

template <bool fused>
double_double expm1_estimate(double_double y)
{
    return expm1_inline<fused>(y);
}

double_double exp_quick(double_double y)
{
#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
    if (widest_kernel_isa() != kernel_isa::baseline)
        return exp_with_fma(y);
#endif
    return exp_inline<fast_fma>(y);
}

double_double expm1_quick(double_double y)
{
#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
    if (widest_kernel_isa() != kernel_isa::baseline)
        return expm1_with_fma(y);
#endif
    return expm1_inline<fast_fma>(y);
}

template double_double exp_estimate<false>(double_double);
template double_double exp_estimate<true>(double_double);
template double_double expm1_estimate<false>(double_double);
template double_double expm1_estimate<true>(double_double);

logarithm log1p_estimate(double_double z, double_double x)
{
    const bool large = x.high >= 2.0;
    // The first guess: x = 2^e w with w in [1, 2), ln x ~ e ln 2 + (w - 1)
    // (within 0.31); for z < 1, z itself (within z^2 / 2).
    double_double y{z.high, 0.0};
    if (large) {
        const auto bits = __builtin_bit_cast(std::uint64_t, x.high);
        const int exponent = static_cast<int>(bits >> 52) - 1023;  // x >= 2: normal, positive
        const double w = __builtin_bit_cast(double, (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1023} << 52));
        y = {exponent * ln2 + (w - 1.0), 0.0};
    }
    for (int step = 0; step < 16; ++step) {
        double_double rho;
        if (large) {
            rho = plus(times<fast_fma>(x, exp_quick({-y.high, -y.low})), -1.0);
        } else {
            const double_double e = expm1_quick({-y.high, -y.low});
            rho = plus(plus(z, e), times<fast_fma>(z, e));
        }
        y = plus(y, rho);
        if (std::fabs(rho.high) <= 0x1p-55 * y.high)
            return {y, true};
    }
    return {y, false};
}

double_double sixty_fourth_power_of_two(int j)
{
    return powers[j];
}

}  // namespace puretone
