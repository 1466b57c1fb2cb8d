#include "lib/exact_sine.hpp"
#include "lib/sine_stream.hpp"
#include "lib/zero_crossing.hpp"

#include "mpfr_oracle.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <mpfr.h>
#include <vector>

namespace {

using puretone_test::longest_sample_count;
using puretone_test::oracle;
using puretone_test::oracle_frequencies;
using puretone_test::oracle_result;

std::vector<std::int32_t> oracle_indices(std::int32_t run)
{
    std::vector<std::int32_t> indices;
    for (std::int32_t k = 0; k < run; ++k) {
        indices.push_back(k);                               // from the start
        indices.push_back(longest_sample_count - 1 - k);    // up to the last sample
        indices.push_back(1073741824 + 7919 * k);           // strided through the middle
    }
    return indices;
}

TEST(sine_sample, matches_mpfr_oracle_bit_for_bit)
{
    const auto indices = oracle_indices(40000);
    for (const double frequency : oracle_frequencies) {
        int mismatches = 0;
        for (const std::int32_t index : indices) {
            const oracle_result expected = oracle(index, frequency);
            ASSERT_EQ(puretone::sine_angle(index, frequency), expected.angle) << frequency << " Hz, i " << index;
            if (puretone::sine_sample(index, frequency).value() != expected.sample && ++mismatches <= 5)
                ADD_FAILURE() << frequency << " Hz, i " << index << ": want " << expected.sample;
        }
        EXPECT_EQ(mismatches, 0) << frequency << " Hz";
    }
}

TEST(sine_sample, known_values)
{
    const struct {
        double frequency;
        std::int32_t index;
        std::int16_t sample;
    } cases[] = {
        {440, 0, 0}, {440, 1, 2052}, {440, 2, 4097}, {440, 3, 6126}, {440, 4, 8130}, {440, 5, 10103},
        {1000, 11, 32766},  // 32766.79...: truncated, not rounded
        {11025, 1, 32767}, {11025, 2, 0}, {11025, 3, -32767}, {11025, 4, 0},
        {11025, 441001, 32767}, {11025, 441003, -32767},
        {-440, 1, -2052}, {-440, 5, -10103},
        {2147483647, 0, 0}, {-2147483648.0, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(puretone::sine_sample(c.index, c.frequency).value(), c.sample) << c.frequency << " Hz, i " << c.index;
}

TEST(sine_sample, symmetry_and_silence_over_ten_seconds)
{
    for (std::int32_t i = 0; i < 441000; ++i) {
        ASSERT_EQ(puretone::sine_sample(i, -440).value(), -puretone::sine_sample(i, 440).value()) << i;
        ASSERT_EQ(puretone::sine_sample(i, 22050).value(), 0) << i;
        ASSERT_EQ(puretone::sine_sample(i, 0).value(), 0) << i;
    }
}

TEST(settled_sample, decides_only_clear_brackets)
{
    constexpr double e = puretone::libm_error_bound;
    const struct {
        double estimate;
        std::optional<std::int16_t> sample;
    } cases[] = {
        {0.0, 0}, {0.5, 16383}, {-0.5, -16383},       // 16383.5 truncates toward zero
        {0x1p-16, 0}, {-0x1p-16, 0},                  // |32767 x| < 1: zero from both sides
        {1.0, std::nullopt}, {-1.0, std::nullopt},    // a peak: 32766 or 32767
        {1.0 - 2 * e, 32766}, {-1.0 + 2 * e, -32766},
        {1.0 / 32767, std::nullopt},                  // on the boundary between 0 and 1
        {1.0 / 32767 + 2 * e, 1}, {1.0 / 32767 - 2 * e, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(puretone::settled_sample(c.estimate, e), c.sample) << c.estimate;
}

// The peak rule on its boundaries: tau itself, and the margin of twice the
// cosine's bound on either side of it. The estimates straddle 32766 and
// 32767 (or their negatives) on their own; one far from a peak stays open
// whatever the cosine.
TEST(narrowed_bracket, decides_only_clear_cosines)
{
    constexpr double bound = 0x1p-47;
    constexpr double tau = puretone::peak_tau;
    constexpr std::int32_t open = 99999;
    constexpr double up = 1 - 0x1p-49, down = -up, elsewhere = 1000.0 / 32767;
    const struct {
        double sine, cosine;
        std::int32_t sample;
    } cases[] = {
        {up, 0.0, 32767}, {down, 0.0, -32767},
        {up, -1e-12, 32767}, {down, 1e-12, -32767},     // only |cos t| counts
        {up, 1e-6, 32766}, {down, -1e-6, -32766},
        {up, tau, open}, {down, -tau, open},
        {up, tau - 2 * bound, open}, {up, tau + 2 * bound, open},
        {up, tau - 3 * bound, 32767}, {up, tau + 3 * bound, 32766},
        {elsewhere, 0.9995, open}, {-elsewhere, -0.9995, open},
    };
    for (const auto& c : cases) {
        const auto ends =
            puretone::bracket_ends<std::int16_t>(puretone::narrowed_bracket(c.sine, bound, c.cosine, bound), 32767.0);
        EXPECT_EQ(ends.low == ends.high ? ends.low : open, c.sample) << c.sine << ", cos " << c.cosine;
    }
}

// The resolver must give the exact sample for any estimate within the bound,
// however wrong, at peaks and elsewhere (by the accurate path).
TEST(resolve_sample, exact_for_estimates_wrong_by_up_to_the_bound)
{
    const struct {
        double frequency;
        std::int32_t first, count;
    } runs[] = {
        {11025, 0, 400},               // exact peaks: RN(sin t) = +-1
        {11025, 600000000, 400},       // angles near 1e9: peaks fall either side of tau
        {11025, 2147449100, 400},      // angles near 3.4e9
        {3675, 0, 400},
        {440, 0, 400},
        {2147483647, 2147449100, 400}, // angles near 6.6e14
    };
    const double bounds[] = {puretone::libm_error_bound, 0x1p-30, 0x1p-12};
    int peaks_32767 = 0, peaks_32766 = 0;
    for (const auto& run : runs)
        for (std::int32_t index = run.first; index < run.first + run.count; ++index) {
            const oracle_result expected = oracle(index, run.frequency);
            peaks_32767 += std::abs(expected.sample) == 32767;
            peaks_32766 += std::abs(expected.sample) == 32766 && std::abs(expected.sine) > 1 - 0x1p-40;
            for (const double bound : bounds) {
                // Leave 2^-51 for the rounding of the sine and of the sum.
                const double reach = bound - 0x1p-51;
                for (const double error : {-reach, -reach / 3, 0.0, reach / 7, reach}) {
                    const double estimate = expected.sine + error;
                    bool unsettled = false;
                    ASSERT_EQ(puretone::resolve_sample(expected.angle, estimate, bound, unsettled), expected.sample)
                        << run.frequency << " Hz, i " << index << ", error " << error;
                    ASSERT_FALSE(unsettled);
                }
            }
        }
    EXPECT_GT(peaks_32767, 100);  // both outcomes of the peak rule were exercised
    EXPECT_GT(peaks_32766, 100);
}

TEST(sine_near_a_zero, within_its_bound_of_the_true_sine)
{
    // Angles near multiples of pi: the doubles nearest k pi for k from 1 to
    // 2^48 - 1 (the domain's end), their neighbours, the numerators of pi's
    // continued-fraction convergents (whole numbers very near k pi), and the
    // angles of tones whose samples sit on zero crossings, far into them.
    std::vector<double> angles = {0.0, -0.0, 1e-300, -3e-20, 355, 103993, 104348, 208341, 312689, 833719,
                                  1146408, 4272943, 5419351, 80143857, 165707065, 245850922, 411557987,
                                  1068966896, 2549491779, 6167950454, 14885392687, 21053343141, 1783366216531,
                                  3587785776203, 5371151992734, 8958937768937, 139755218526789, 428224593349304};
    for (double k = 1; k < 0x1p48; k = k * 3 + 1)
        for (const double turn : {k, 0x1p48 - k})
            for (const int step : {-2, 0, 1}) {
                double t = turn * 3.141592653589793;
                for (int s = 0; s < std::abs(step); ++s)
                    t = std::nextafter(t, step < 0 ? 0.0 : 1e300);
                angles.push_back(t);
                angles.push_back(-t);
            }
    for (std::int32_t m = 0; m < 2147483647 / 24; m += 1234567)
        angles.push_back(puretone::sine_angle(24 * m, 1000, 48000));
    for (std::int32_t m = 0; m < 1073741823; m += 7654321)
        angles.push_back(puretone::sine_angle(2 * m, 11025, 44100));
    mpfr_t sine, error;
    mpfr_inits2(400, sine, error, static_cast<mpfr_ptr>(nullptr));
    int checked = 0;
    for (const double t : angles) {
        mpfr_set_d(sine, t, MPFR_RNDN);
        mpfr_sin(sine, sine, MPFR_RNDN);
        if (std::fabs(mpfr_get_d(sine, MPFR_RNDN)) >= 0x1p-14 || std::fabs(t) > 8.8e14)
            continue;  // outside the contract
        const puretone::sine_near_zero near = puretone::sine_near_a_zero(t);
        mpfr_sub_d(error, sine, near.value, MPFR_RNDN);
        EXPECT_LE(std::fabs(mpfr_get_d(error, MPFR_RNDU)), near.bound) << std::hexfloat << t;
        // A quarter of the bound still holds: its margin is real, not luck.
        EXPECT_LE(std::fabs(mpfr_get_d(error, MPFR_RNDU)), near.bound / 4) << std::hexfloat << t;
        EXPECT_EQ(std::signbit(near.value), mpfr_signbit(sine) != 0) << std::hexfloat << t;
        ++checked;
    }
    mpfr_clears(sine, error, static_cast<mpfr_ptr>(nullptr));
    EXPECT_GT(checked, 300);
}

}  // namespace
