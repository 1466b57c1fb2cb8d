// The block path (the vector sine where it is built in) against the MPFR
// reference and against the scalar path, byte for byte.
#include "lib/sine_stream.hpp"

#include "mpfr_oracle.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using puretone::block_samples;
using puretone_test::longest_sample_count;
using puretone_test::oracle;

// Samples first .. first + count - 1 from sine_block, a block at a time,
// checked against the reference: with the kernel, and with a first bound of 2^-20,
// which sends one sample in 16 or so to the fallbacks. Returns the number
// of mismatches.
int block_mismatches(double frequency, std::int32_t first, std::int32_t count)
{
    const puretone::block_plan plans[] = {{}, {.first_bound = 0x1p-20}};
    std::array<std::int16_t, block_samples> samples;
    int mismatches = 0;
    for (const auto& plan : plans)
        for (std::int32_t start = first; start < first + count; start += block_samples) {
            const auto size = static_cast<std::size_t>(std::min(block_samples, first + count - start));
            bool unsettled = false;
            puretone::sine_block(start, frequency, std::span(samples).first(size), unsettled, plan);
            EXPECT_FALSE(unsettled) << frequency << " Hz from " << start;
            for (std::size_t k = 0; k < size; ++k) {
                const auto index = start + static_cast<std::int32_t>(k);
                const std::int32_t want = oracle(index, frequency).sample;
                if (samples[k] != want && ++mismatches <= 5)
                    ADD_FAILURE() << frequency << " Hz, i " << index << ": got " << samples[k] << ", want " << want
                                  << (plan.first_bound != 0 ? " (fallback)" : "");
            }
        }
    return mismatches;
}

TEST(sine_block, matches_mpfr_oracle_bit_for_bit)
{
    // Whole runs of blocks from the start, through the middle, and up to the
    // last sample of the longest file; the first of them is not aligned to a
    // block, as no index of the writer ever is but this one.
    const struct {
        std::int32_t first, count;
    } runs[] = {
        {0, 8 * block_samples}, {1000001, 2 * block_samples},
        {1073741824, 4 * block_samples}, {longest_sample_count - 8 * block_samples, 8 * block_samples},
    };
    for (const double frequency : puretone_test::oracle_frequencies)
        for (const auto& run : runs)
            EXPECT_EQ(block_mismatches(frequency, run.first, run.count), 0)
                << frequency << " Hz from " << run.first;
}

// The wider formats with the kernel's own bound, and with the first bound
// raised so that many samples go past the kernel to the fallbacks: every
// sample as the reference gives it.
template <class Sample>
int format_mismatches(const puretone_test::oracle_tone& tone, std::int32_t first, double first_bound)
{
    const double peak = puretone_test::oracle_peak(tone);
    std::array<Sample, block_samples> samples;
    int mismatches = 0;
    std::size_t fallbacks = 0;
    bool unsettled = false;
    for (std::int32_t start = first; start < first + 4 * block_samples; start += block_samples) {
        fallbacks +=
            puretone::tone_block<Sample>(start, {tone.rate, tone.frequency, peak}, samples, unsettled,
                                         {.first_bound = first_bound});
        for (std::size_t k = 0; k < samples.size(); ++k) {
            const auto index = start + static_cast<std::int32_t>(k);
            const double want = puretone_test::oracle_sample(index, tone, peak);
            const bool same = std::is_same_v<Sample, float>
                                  ? std::bit_cast<std::uint32_t>(static_cast<float>(samples[k]))
                                        == std::bit_cast<std::uint32_t>(static_cast<float>(want))
                                  : static_cast<double>(samples[k]) == want;
            if (!same && ++mismatches <= 5)
                ADD_FAILURE() << tone.frequency << " Hz at " << tone.rate << ", i " << index << ": got "
                              << samples[k] << ", want " << want << ", first bound " << first_bound;
        }
    }
    EXPECT_FALSE(unsettled) << tone.frequency << " Hz at " << tone.rate;
    if (first_bound != 0) {
        EXPECT_GT(fallbacks, std::size_t{64}) << tone.frequency << " Hz: the fallbacks fired too rarely";
    }
    return mismatches;
}

TEST(tone_block, exact_in_every_format_when_the_fallbacks_fire)
{
    using puretone_test::oracle_format;
    const struct {
        puretone_test::oracle_tone tone;
        double first_bound;  // one sample in 16 or more left open
        std::int32_t first = 1000000;
    } cases[] = {
        {{44100, 440, oracle_format::s24, 0, 0}, 0x1p-26}, {{48000, 1000, oracle_format::s32, 0, 0}, 0x1p-34},
        {{44100, 997, oracle_format::s32, 1, 0.5}, 0x1p-33}, {{48000, 1000, oracle_format::f32, 0, 0}, 0x1p-27},
        {{48000, -1000, oracle_format::s24, 2, -18}, 0x1p-26}, {{96000, 1000, oracle_format::s24, 0, 0}, 0x1p-26},
        {{44100, 11025, oracle_format::f32, 2, -6}, 0x1p-27},
        {{44100, 2147483647, oracle_format::s32, 0, 0}, 0x1p-34, 10000000},  // angles beyond 2^40
        {{44100, -1000003, oracle_format::f32, 0, 0}, 0x1p-27, 2000000000},
        {{48000, -12000, oracle_format::f32, 0, 0}, 0x1p-27, 2147483647 - 4 * block_samples},  // on zero every 2nd
    };
    for (const auto& c : cases)
        for (const double first_bound : {0.0, c.first_bound}) {
            const int mismatches = c.tone.format == oracle_format::f32
                                       ? format_mismatches<float>(c.tone, c.first, first_bound)
                                       : format_mismatches<std::int32_t>(c.tone, c.first, first_bound);
            EXPECT_EQ(mismatches, 0) << c.tone.frequency << " Hz, format " << static_cast<int>(c.tone.format);
        }
}

// The largest index whose angle is at most `limit` in magnitude; angles
// never shrink as the index grows.
std::int32_t last_index_within(double frequency, double limit)
{
    std::int32_t low = 0, high = longest_sample_count;
    while (low < high) {
        const std::int32_t middle = low + (high - low + 1) / 2;
        if (std::fabs(puretone::sine_angle(middle, frequency)) <= limit)
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

// Far angles, reduced by up to 10^14 turns: runs of blocks around 2^40
// (where blocks begin to be reduced by whole turns first), 1e14, 2e14,
// 4e14 and 6e14 (the largest angles are tested above).
TEST(sine_block, exact_at_far_angles)
{
    for (const double frequency : {2147483647.0, -2147483648.0, 400000000.0})
        for (const double angle : {0x1p40, 1e14, 2e14, 4e14, 6e14}) {  // 2^40: reduced by whole turns first
            const std::int32_t last = last_index_within(frequency, angle);
            if (last == longest_sample_count)
                continue;  // this frequency never gets so far
            EXPECT_EQ(block_mismatches(frequency, last - 700, 2 * block_samples), 0)
                << frequency << " Hz around " << angle;
        }
}

// Runs of any length, from any start, cut into blocks and passed between
// blocks, give the samples one at a time.
TEST(sine_samples, block_boundaries_give_the_scalar_samples)
{
    const std::size_t counts[] = {0, 1, 7, block_samples - 1, block_samples, block_samples + 1,
                                  3 * block_samples + 9};
    for (const double frequency : {440.0, 11025.0, -3675.0, 2147483647.0})
        for (const std::int32_t first : {0, 5, 2147483647 - 3 * block_samples - 9})
            for (const std::size_t count : counts) {
                std::vector<std::int16_t> samples(count);
                ASSERT_TRUE(puretone::sine_samples(first, frequency, samples));
                for (std::size_t k = 0; k < count; ++k)
                    ASSERT_EQ(samples[k], puretone::sine_sample(first + static_cast<std::int32_t>(k), frequency).value())
                        << frequency << " Hz, first " << first << ", count " << count << ", k " << k;
            }
}

}  // namespace
