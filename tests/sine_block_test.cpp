// The block path (the vector sine where it is built in) against the MPFR
// reference and against the scalar path, byte for byte.
#include "lib/sine_stream.hpp"

#include "mpfr_oracle.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using puretone::block_samples;
using puretone_test::longest_sample_count;
using puretone_test::oracle;

// Samples first .. first + count - 1 from sine_block, a block at a time,
// with and without cosines made in the same pass, checked against the
// reference; returns the number of mismatches.
int block_mismatches(double frequency, std::int32_t first, std::int32_t count)
{
    std::array<std::int16_t, block_samples> samples, with_cosines;
    int mismatches = 0;
    for (std::int32_t start = first; start < first + count; start += block_samples) {
        const auto size = static_cast<std::size_t>(std::min(block_samples, first + count - start));
        puretone::sine_block(start, frequency, std::span(samples).first(size));
        puretone::sine_block(start, frequency, std::span(with_cosines).first(size), true);
        for (std::size_t k = 0; k < size; ++k) {
            const auto index = start + static_cast<std::int32_t>(k);
            const std::int32_t want = oracle(index, frequency).sample;
            if ((samples[k] != want || with_cosines[k] != want) && ++mismatches <= 5)
                ADD_FAILURE() << frequency << " Hz, i " << index << ": got " << samples[k] << " and "
                              << with_cosines[k] << ", want " << want;
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

// Far angles, reduced by up to 10^14 turns: runs of blocks around 1e14,
// 2e14, 4e14 and 6e14 (the largest angles are tested above).
TEST(sine_block, exact_at_far_angles)
{
    for (const double frequency : {2147483647.0, -2147483648.0, 400000000.0})
        for (const double angle : {1e14, 2e14, 4e14, 6e14}) {
            const std::int32_t last = last_index_within(frequency, angle);
            if (last == longest_sample_count)
                continue;  // this frequency never gets so far
            EXPECT_EQ(block_mismatches(frequency, last - 700, 2 * block_samples), 0)
                << frequency << " Hz around " << angle;
        }
}

// Runs of any length, from any start, cut into blocks and passed between
// sine-only and sine-and-cosine blocks, give the samples one at a time.
TEST(sine_samples, block_boundaries_give_the_scalar_samples)
{
    const std::size_t counts[] = {0, 1, 7, block_samples - 1, block_samples, block_samples + 1,
                                  3 * block_samples + 9};
    for (const double frequency : {440.0, 11025.0, -3675.0, 2147483647.0})
        for (const std::int32_t first : {0, 5, 2147483647 - 3 * block_samples - 9})
            for (const std::size_t count : counts) {
                std::vector<std::int16_t> samples(count);
                puretone::sine_samples(first, frequency, samples);
                for (std::size_t k = 0; k < count; ++k)
                    ASSERT_EQ(samples[k], puretone::sine_sample(first + static_cast<std::int32_t>(k), frequency))
                        << frequency << " Hz, first " << first << ", count " << count << ", k " << k;
            }
}

}  // namespace
