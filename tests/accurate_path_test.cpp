// The accurate path against MPFR: its constants limb for limb, and its
// sines bit for bit at every precision that claims to settle them.
#include "lib/accurate_sine.hpp"
#include "lib/multiword.hpp"
#include "lib/pi_bits.hpp"
#include "lib/tone_format.hpp"
#include "test_angles.hpp"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <cstdint>
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

// floor(c * 2^shift) in limbs, c from MPFR's pi at 1200 bits.
std::vector<std::uint64_t> mpfr_limbs(bool two_over_pi, int shift, int count)
{
    mpfr_t c;
    mpz_t z;
    mpfr_init2(c, 1200);
    mpz_init(z);
    mpfr_const_pi(c, MPFR_RNDN);
    if (two_over_pi)
        mpfr_ui_div(c, 2, c, MPFR_RNDN);
    else
        mpfr_div_2ui(c, c, 1, MPFR_RNDN);
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

TEST(accurate_sine, constants_are_mpfrs_pi_limb_for_limb)
{
    EXPECT_EQ(mpfr_limbs(true, 704, 11), std::vector<std::uint64_t>(std::begin(puretone::two_over_pi_bits),
                                                                     std::end(puretone::two_over_pi_bits)));
    EXPECT_EQ(mpfr_limbs(false, 510, 8), std::vector<std::uint64_t>(std::begin(puretone::half_pi_bits),
                                                                    std::end(puretone::half_pi_bits)));
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

// Every angle of the sample tests, the hard places near multiples of pi/2
// up to the domain's end, and random doubles of every size: each settled
// result equals MPFR's, and the loop settles every one.
TEST(accurate_sine, matches_mpfr_bit_for_bit)
{
    std::vector<double> angles = puretone_test::test_angles();
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
    int settled_at[3] = {0, 0, 0};
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
        ++settled_at[result.precision <= 128 ? 0 : result.precision == 256 ? 1 : 2];
    }
    std::cout << "settled at 128 bits: " << settled_at[0] << ", at 256: " << settled_at[1] << ", at 512: "
              << settled_at[2] << '\n';
    EXPECT_EQ(puretone::accurate_sine(0x1p60).precision, -1);
    EXPECT_EQ(puretone::accurate_sine(NAN).precision, -1);
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

}  // namespace
