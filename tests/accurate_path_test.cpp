// The accurate path against MPFR: its constants limb for limb, its sines
// bit for bit at every precision that claims to settle them, and the peaks
// of ratio and dBFS levels.
#include "lib/accurate_sine.hpp"
#include "lib/decibel_peak.hpp"
#include "lib/double_double_sine.hpp"
#include "lib/multiword.hpp"
#include "lib/constant_bits.hpp"
#include "lib/tone_format.hpp"
#include "test_angles.hpp"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <cstring>
#include <random>
#include <vector>

namespace {

double mpfr_sine(double x)
{
    mpfr_t y;
    mpfr_init2(y, 53);
    mpfr_set_d(y, x, MPFR_RNDN);
    mpfr_sin(y, y, MPFR_RNDN);
    const double sine = mpfr_get_d(y, MPFR_RNDN);
    mpfr_clear(y);
    return sine;
}

enum class constant { two_over_pi, half_pi, log2_10_twentieth, ln2 };

// floor(c * 2^shift) in limbs, c from MPFR at 1200 bits.
std::vector<std::uint64_t> mpfr_limbs(constant which, int shift, int count)
{
    mpfr_t c;
    mpz_t z;
    mpfr_init2(c, 1200);
    mpz_init(z);
    switch (which) {
    case constant::two_over_pi:
        mpfr_const_pi(c, MPFR_RNDN);
        mpfr_ui_div(c, 2, c, MPFR_RNDN);
        break;
    case constant::half_pi:
        mpfr_const_pi(c, MPFR_RNDN);
        mpfr_div_2ui(c, c, 1, MPFR_RNDN);
        break;
    case constant::log2_10_twentieth:
        mpfr_set_ui(c, 10, MPFR_RNDN);
        mpfr_log2(c, c, MPFR_RNDN);
        mpfr_div_ui(c, c, 20, MPFR_RNDN);
        break;
    case constant::ln2:
        mpfr_const_log2(c, MPFR_RNDN);
        break;
    }
    mpfr_mul_2si(c, c, shift, MPFR_RNDN);
    mpfr_get_z(z, c, MPFR_RNDD);
    std::vector<std::uint64_t> limbs(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        mpz_t part;
        mpz_init(part);
        mpz_fdiv_q_2exp(part, z, static_cast<mp_bitcnt_t>(64 * k));
        mpz_fdiv_r_2exp(part, part, 64);
        std::uint64_t value = 0;
        mpz_export(&value, nullptr, -1, sizeof value, 0, 0, part);
        limbs[static_cast<std::size_t>(k)] = value;
        mpz_clear(part);
    }
    mpz_clear(z);
    mpfr_clear(c);
    return limbs;
}

template <std::size_t count>
std::vector<std::uint64_t> limbs_of(const std::uint64_t (&table)[count])
{
    return {std::begin(table), std::end(table)};
}

TEST(accurate_path, constants_are_mpfrs_limb_for_limb)
{
    EXPECT_EQ(mpfr_limbs(constant::two_over_pi, 704, 11), limbs_of(puretone::two_over_pi_bits));
    EXPECT_EQ(mpfr_limbs(constant::half_pi, 510, 8), limbs_of(puretone::half_pi_bits));
    EXPECT_EQ(mpfr_limbs(constant::log2_10_twentieth, 704, 11), limbs_of(puretone::log2_10_twentieth_bits));
    EXPECT_EQ(mpfr_limbs(constant::ln2, 510, 8), limbs_of(puretone::ln2_bits));
    EXPECT_EQ(mpfr_limbs(constant::ln2, 638, 10), limbs_of(puretone::ln2_long_bits));
}

// Multiplication and division against exact rational arithmetic on small
// values, and the conversion to double on values next to ties.
TEST(multiword, products_quotients_and_rounding_are_as_stated)
{
    using puretone::fixed;
    const double values[] = {0.75, -0.375, 0x1.fffffffffffffp-1, -0x1.0000000000001p-60, 1.25, 0x1p-100};
    for (const double a : values)
        for (const double b : values) {
            const fixed<4> product = puretone::multiply(puretone::from_double<4>(a), puretone::from_double<4>(b));
            EXPECT_EQ(puretone::nearest_double(product), a * b) << a << " " << b;  // exact in 106 bits
        }
    const fixed<2> third = puretone::divide(puretone::from_double<2>(1.0), 3);
    EXPECT_EQ(puretone::nearest_double(third), 1.0 / 3.0);
    // A tie between two doubles goes to the even one; a unit above goes up.
    const fixed<2> tie = puretone::add(puretone::from_double<2>(1.0), puretone::from_double<2>(0x1p-53));
    EXPECT_EQ(puretone::nearest_double(tie), 1.0);
    EXPECT_EQ(puretone::nearest_double(puretone::add(tie, puretone::units<2>(1))), 1.0 + 0x1p-52);
    EXPECT_EQ(puretone::nearest_double(puretone::negate(tie)), -1.0);
}

// Published hard cases of sin over binary64: doubles in (0, pi) whose sine
// has 46 to 59 identical bits after the round bit (V. Lefevre's worst cases
// for correct rounding, testlibm data, 2020-11-27 update), from every
// binade there, with their negatives below.
constexpr double hard_cases[] = {
    0x1.184a0aa58191dp-24, 0x1.30c7efbee12acp-24, 0x1.45dd7c26e54b9p-24, 0x1.06800e629d672p-23,
    0x1.1b9648c38c55ep-23, 0x1.039d88c480fccp-22, 0x1.0ecb8dc6bb967p-22, 0x1.015b4fa4d915bp-14,
    0x1.00874a5f9fc33p-13, 0x1.0202c01ab4668p-11, 0x1.009ee184a02e7p-8,  0x1.00f620e3203b4p-7,
    0x1.0285070f9f1bcp-5,  0x1.013b76f655be4p-4,  0x1.0102947e7003bp-3,  0x1.0518fffe634f2p-2,
    0x1.04394261cffa6p-1,  0x1.6f623e27cdb79p-1,  0x1.0192deafac33fp+0, 0x1.1da5d5a23306dp+0,
    0x1.57006c1b011c8p+0,  0x1.005023d32fee5p+1,  0x1.4bcc0c8872f76p+1, 0x1.6ebdedd37ba17p+1,
};

// Every angle of the sample tests, the published hard cases, the hard
// places near multiples of pi/2 up to the domain's end, and random doubles
// of every size: each settled result equals MPFR's, and the loop settles
// every one.
TEST(accurate_sine, matches_mpfr_bit_for_bit)
{
    std::vector<double> angles = puretone_test::test_angles();
    for (const double x : hard_cases)
        angles.insert(angles.end(), {x, -x});
    std::mt19937_64 random(20261209);
    std::uniform_real_distribution<double> exponent(-26, 49.6);
    for (int k = 0; k < 100000; ++k) {
        const double x = std::exp2(exponent(random)) * (random() % 2 != 0 ? -1 : 1);
        angles.push_back(x);
    }
    // The doubles nearest k pi/2 and their neighbours, for k up to 2^51.
    mpfr_t q;
    mpfr_init2(q, 200);
    for (std::uint64_t k = 1; k < (std::uint64_t{1} << 51); k = k * 3 + 1) {
        mpfr_const_pi(q, MPFR_RNDN);
        mpfr_mul_d(q, q, static_cast<double>(k), MPFR_RNDN);  // exact: k < 2^53
        mpfr_div_2ui(q, q, 1, MPFR_RNDN);
        const double near = mpfr_get_d(q, MPFR_RNDN);
        for (const double x : {near, std::nextafter(near, 0.0), std::nextafter(near, 1e300)})
            angles.push_back(x);
    }
    mpfr_clear(q);
    int settled_at[4] = {0, 0, 0, 0};
    for (const double x : angles) {
        if (std::fabs(x) >= 0x1p60)
            continue;
        const double want = mpfr_sine(x);
        for (const int bits : {128, 256, 512}) {
            const puretone::accurate_result at = puretone::accurate_sine_at(x, bits);
            if (at.precision != -1) {
                ASSERT_EQ(std::memcmp(&at.value, &want, sizeof want), 0) << std::hexfloat << x << " at " << bits;
            }
        }
        const puretone::accurate_result result = puretone::accurate_sine(x);
        ASSERT_NE(result.precision, -1) << std::hexfloat << x;
        ASSERT_EQ(std::memcmp(&result.value, &want, sizeof want), 0) << std::hexfloat << x;
        ++settled_at[result.precision <= puretone::double_double_precision ? 0
                     : result.precision == 128                              ? 1
                     : result.precision == 256                              ? 2
                                                                            : 3];
    }
    std::cout << "settled in double-double (or below 2^-26): " << settled_at[0] << ", at 128 bits: " << settled_at[1]
              << ", at 256: " << settled_at[2] << ", at 512: " << settled_at[3] << '\n';
    EXPECT_EQ(puretone::accurate_sine(0x1p60).precision, -1);
    EXPECT_EQ(puretone::accurate_sine(NAN).precision, -1);
}

// Random doubles of every size in the domain, 10^6 (10^5 under an
// emulator), each at 128 and 256 bits: the unrounded estimate lies within
// its stated bound of sin x, computed by MPFR at 1200 bits.
TEST(accurate_sine, every_estimate_lies_within_its_bound)
{
    const int count = PURETONE_EMULATED ? 100000 : 1000000;
    std::mt19937_64 random(20261210);
    std::uniform_real_distribution<double> exponent(-26, 49.6);
    mpfr_t sine, estimate, part;
    mpfr_inits2(1200, sine, estimate, part, static_cast<mpfr_ptr>(nullptr));
    double worst[2] = {0, 0};  // the largest error / bound at 128 and at 256 bits
    for (int n = 0; n < count; ++n) {
        const double x = std::exp2(exponent(random)) * (random() % 2 != 0 ? -1 : 1);
        mpfr_set_d(sine, x, MPFR_RNDN);
        mpfr_sin(sine, sine, MPFR_RNDN);
        for (int p = 0; p < 2; ++p) {
            const puretone::accurate_estimate e = puretone::accurate_sine_estimate(x, p == 0 ? 128 : 256);
            ASSERT_EQ(e.count, p == 0 ? 2 : 4) << std::hexfloat << x;
            // The limbs as a signed integer, 32 bits at a time (long may be 32 bits).
            const bool negative = (e.limbs[e.count - 1] >> 63) != 0;
            mpfr_set_ui(estimate, 0, MPFR_RNDN);
            for (int k = e.count - 1; k >= 0; --k) {
                std::uint64_t limb = e.limbs[k];
                if (negative) {  // the magnitude: ~limbs + 1, carried from the lowest limb up
                    std::uint64_t low_carry = 1;
                    for (int j = 0; j < k; ++j)
                        low_carry &= e.limbs[j] == 0;
                    limb = ~limb + low_carry;
                }
                for (const int shift : {32, 0}) {
                    mpfr_mul_2ui(estimate, estimate, 32, MPFR_RNDN);  // exact at 1200 bits
                    mpfr_add_ui(estimate, estimate, static_cast<unsigned long>((limb >> shift) & 0xFFFFFFFF), MPFR_RNDN);
                }
            }
            mpfr_div_2ui(estimate, estimate, static_cast<unsigned long>(64 * e.count - 2), MPFR_RNDN);
            if (negative)
                mpfr_neg(estimate, estimate, MPFR_RNDN);
            mpfr_sub(part, estimate, sine, MPFR_RNDN);  // 1200 bits: the difference to about 2^-1100
            mpfr_abs(part, part, MPFR_RNDN);
            mpfr_mul_2ui(part, part, static_cast<unsigned long>(64 * e.count - 2), MPFR_RNDN);
            const double ratio = mpfr_get_d(part, MPFR_RNDU) / static_cast<double>(e.bound_units);
            ASSERT_LT(ratio, 1.0) << std::hexfloat << x << " at " << 128 * (p + 1) << " bits";
            worst[p] = std::max(worst[p], ratio);
        }
    }
    mpfr_clears(sine, estimate, part, static_cast<mpfr_ptr>(nullptr));
    std::cout << "largest error / bound: " << worst[0] << " at 128 bits, " << worst[1] << " at 256\n";
}

// The double-double first try, on random angles of every size in its
// domain, on the doubles nearest k pi/2 (where the reduction's absolute
// error counts most), and on angles whose sines lie near a midpoint between
// doubles: its estimate h + l within its bound of sin t (MPFR at 300 bits),
// every sine it settles equal to MPFR's rounding, and the near midpoints
// mostly left open.
TEST(double_double_sine, estimate_lies_within_its_bound_and_settles_as_mpfr)
{
    const int count = PURETONE_EMULATED ? 100000 : 1000000;
    std::mt19937_64 random(106);
    std::uniform_real_distribution<double> exponent(-26, 40);
    std::vector<double> angles;
    for (int n = 0; n < count; ++n)
        angles.push_back(std::exp2(exponent(random)) * (random() % 2 != 0 ? -1 : 1));
    mpfr_t sine, part, cosine;
    mpfr_inits2(300, sine, part, cosine, static_cast<mpfr_ptr>(nullptr));
    for (std::uint64_t k = 1; k < (std::uint64_t{1} << 41); k = k * 3 + 1) {
        mpfr_const_pi(sine, MPFR_RNDN);
        mpfr_mul_d(sine, sine, static_cast<double>(k) / 2, MPFR_RNDN);
        const double near = mpfr_get_d(sine, MPFR_RNDN);
        for (const double t : {near, std::nextafter(near, 0.0), std::nextafter(near, 1e300)})
            if (t <= puretone::half_turn_domain)
                angles.push_back(t);
    }
    // Near midpoints: where t - sin t = (n + 1/2) ulp, ulp that of t's binade
    // [2^e, 2^(e+1)), sin t lies at a midpoint, and the double t nearest
    // such a real T within (T^2/4) ulp of one (1 - cos t < t^2/2). T from
    // t^3/6 = (n + 1/2) ulp, and one Newton step on t - sin t; binades where
    // T^2/4 is below the bound's 2^-31.4 ulp, and t from 1.5 2^e, clear of
    // the binade below.
    const std::size_t random_angles = angles.size();
    for (int e = -26; e <= -16; ++e) {
        const double first = std::ceil(std::ldexp(3.375, 2 * e + 52) / 6);
        for (double n = first; n < first + 2000; ++n) {
            mpfr_set_d(cosine, 6 * (n + 0.5), MPFR_RNDN);  // exact
            mpfr_mul_2si(cosine, cosine, e - 52, MPFR_RNDN);
            mpfr_cbrt(part, cosine, MPFR_RNDN);
            mpfr_div_ui(cosine, cosine, 6, MPFR_RNDN);  // (n + 1/2) ulp
            mpfr_sin(sine, part, MPFR_RNDN);
            mpfr_sub(sine, part, sine, MPFR_RNDN);
            mpfr_sub(sine, sine, cosine, MPFR_RNDN);  // T - sin T - (n + 1/2) ulp
            mpfr_cos(cosine, part, MPFR_RNDN);
            mpfr_ui_sub(cosine, 1, cosine, MPFR_RNDN);
            mpfr_div(sine, sine, cosine, MPFR_RNDN);
            mpfr_sub(part, part, sine, MPFR_RNDN);
            const double t = mpfr_get_d(part, MPFR_RNDN);
            if (t < std::ldexp(1.0, e + 1))
                angles.push_back(t);
        }
    }
    double worst = 0;
    int open = 0, open_near_midpoints = 0;
    for (std::size_t a = 0; a < angles.size(); ++a) {
        const double t = angles[a];
        const puretone::double_double e = puretone::double_double_sine_estimate(t);
        mpfr_set_d(sine, t, MPFR_RNDN);
        mpfr_sin(sine, sine, MPFR_RNDN);
        mpfr_sub_d(part, sine, e.high, MPFR_RNDN);  // to 300 bits
        mpfr_sub_d(part, part, e.low, MPFR_RNDN);
        const double bound =
            std::fabs(e.high) * puretone::double_double_relative_bound + puretone::double_double_absolute_bound;
        const double ratio = std::fabs(mpfr_get_d(part, MPFR_RNDU)) / bound;
        ASSERT_LT(ratio, 1.0) << std::hexfloat << t;
        worst = std::max(worst, ratio);
        const puretone::settled_sine settled = puretone::double_double_sine(t);
        (a < random_angles ? open : open_near_midpoints) += !settled.settled;
        if (settled.settled) {
            const double want = mpfr_sine(t);
            ASSERT_EQ(std::memcmp(&settled.value, &want, sizeof want), 0) << std::hexfloat << t;
        }
    }
    // The table: each value's high part its rounding, and with the low part
    // within u^2 of it.
    for (int j = 0; j <= 101; ++j) {
        const puretone::sine_cosine entry = puretone::sixty_fourths(j);
        mpfr_set_ui(part, static_cast<unsigned long>(j), MPFR_RNDN);
        mpfr_div_2ui(part, part, 6, MPFR_RNDN);
        mpfr_sin_cos(sine, cosine, part, MPFR_RNDN);
        for (const auto& [value, table] : {std::pair{sine, entry.sine}, std::pair{cosine, entry.cosine}}) {
            EXPECT_EQ(mpfr_get_d(value, MPFR_RNDN), table.high) << j;
            mpfr_sub_d(value, value, table.high, MPFR_RNDN);
            mpfr_sub_d(value, value, table.low, MPFR_RNDN);
            EXPECT_LE(std::fabs(mpfr_get_d(value, MPFR_RNDU)), 0x1p-106 * std::fabs(table.high)) << j;
        }
    }
    mpfr_clears(sine, part, cosine, static_cast<mpfr_ptr>(nullptr));
    std::cout << "largest error / bound: " << worst << "; left open: " << open << " of " << random_angles
              << ", and " << open_near_midpoints << " of " << angles.size() - random_angles << " near midpoints\n";
    EXPECT_LT(open, 10);
    EXPECT_GT(open_near_midpoints, (angles.size() - random_angles) * 9 / 10);
    EXPECT_FALSE(puretone::double_double_sine(0x1p41).settled);
    EXPECT_FALSE(puretone::double_double_sine(NAN).settled);
}

// A ratio level's peak, F a rounded to the nearest whole number with ties
// away from zero, against MPFR's exact product: random levels, and the
// doubles nearest each side of a half-integer product.
TEST(ratio_peak, matches_mpfrs_exact_product)
{
    std::mt19937_64 random(48000);
    std::uniform_real_distribution<double> level(0.0, 1.0);
    mpfr_t product;
    mpfr_init2(product, 128);
    for (const auto type : {puretone::sample_type::s16, puretone::sample_type::s24, puretone::sample_type::s32}) {
        const double scale = type == puretone::sample_type::s16 ? 32767 : type == puretone::sample_type::s24 ? 8388607
                                                                                                          : 2147483647;
        std::vector<double> levels = {0.0, 1.0, 0.5, 0x1p-1074, 0.25 / scale, 0.5 / scale, std::nextafter(0.5, 0.0)};
        for (int k = 0; k < 20000; ++k) {
            levels.push_back(level(random));
            const double tie = (std::floor(level(random) * scale) + 0.5) / scale;
            for (const double a : {tie, std::nextafter(tie, 0.0), std::nextafter(tie, 1.0)})
                levels.push_back(a);
        }
        for (const double a : levels) {
            if (!(a >= 0 && a <= 1))
                continue;
            double peak = -1;
            ASSERT_EQ(puretone::peak_for(type, PURETONE_LEVEL_RATIO, a, peak), PURETONE_OK);
            mpfr_set_d(product, a, MPFR_RNDN);
            mpfr_mul_d(product, product, scale, MPFR_RNDN);  // exact: 84 bits at most
            mpfr_round(product, product);
            ASSERT_EQ(peak, mpfr_get_d(product, MPFR_RNDN)) << std::hexfloat << a << " of " << scale;
        }
    }
    mpfr_clear(product);
}

// F 10^(d/20) as MPFR bounds it, rounded whole (ties away) or to a double,
// at growing precision until the bounds agree: the reference for the dBFS
// peak.
double mpfr_decibel_peak(double decibels, double scale, bool whole)
{
    for (mpfr_prec_t bits = 64;; bits *= 2) {
        mpfr_t low, high;
        mpfr_inits2(bits, low, high, static_cast<mpfr_ptr>(nullptr));
        mpfr_set_d(low, decibels, MPFR_RNDN);
        mpfr_div_ui(low, low, 20, MPFR_RNDD);
        mpfr_exp10(low, low, MPFR_RNDD);
        mpfr_mul_d(low, low, scale, MPFR_RNDD);
        mpfr_set_d(high, decibels, MPFR_RNDN);
        mpfr_div_ui(high, high, 20, MPFR_RNDU);
        mpfr_exp10(high, high, MPFR_RNDU);
        mpfr_mul_d(high, high, scale, MPFR_RNDU);
        if (whole) {
            mpfr_round(low, low);
            mpfr_round(high, high);
        }
        const double below = mpfr_get_d(low, MPFR_RNDN), above = mpfr_get_d(high, MPFR_RNDN);
        mpfr_clears(low, high, static_cast<mpfr_ptr>(nullptr));
        if (below == above)
            return below;
    }
}

// Levels of every size, whole multiples of 20 dB (exact powers of ten), the
// edges where the peak becomes 0, and levels whose peak lies next to a
// half-integer: each peak equals MPFR's.
TEST(decibel_peak, matches_mpfr_for_every_format)
{
    std::mt19937_64 random(96000);
    std::uniform_real_distribution<double> decibels(-250.0, 0.0), deep(-7100.0, 0.0);
    int settled_at[4] = {0, 0, 0, 0};
    for (const double scale : {32767.0, 8388607.0, 2147483647.0, 1.0}) {
        const bool whole = scale != 1.0;
        std::vector<double> levels = {0.0, -0.0, -0x1p-61, -0x1p-59, -5e-324, -1e-300, -6.020599913279624, -18,
                                      -192.7, -7000.0, -7001.0, -6463.0, -6470.5, -1e300};
        for (int k = 0; k <= 60; ++k)
            levels.push_back(-20.0 * k);
        for (int k = 0; k < 4000; ++k) {
            levels.push_back(whole ? decibels(random) : deep(random));
            if (whole) {  // next to F 10^(d/20) = m + 1/2
                const double m = std::floor(std::uniform_real_distribution<double>(0, scale)(random));
                const double d = 20 * std::log10((m + 0.5) / scale);
                for (const double near : {d, std::nextafter(d, 0.0), std::nextafter(d, -1e9)})
                    levels.push_back(std::fmin(near, 0.0));
            }
        }
        for (const double d : levels) {
            double peak = -1;
            int bits = -1;
            ASSERT_TRUE(puretone::decibel_peak(d, scale, whole, peak, &bits)) << std::hexfloat << d;
            const double want = d < -8000 ? 0.0 : mpfr_decibel_peak(d, scale, whole);
            ASSERT_EQ(std::memcmp(&peak, &want, sizeof want), 0)
                << std::hexfloat << d << " of " << scale << ": " << peak << " for " << want;
            ++settled_at[bits == 0 ? 0 : bits == 128 ? 1 : bits == 256 ? 2 : 3];
        }
    }
    std::cout << "dBFS peaks without the series: " << settled_at[0] << ", at 128 bits: " << settled_at[1]
              << ", at 256: " << settled_at[2] << ", at 512: " << settled_at[3] << '\n';
}

}  // namespace
