// Computes each sample afresh from its index (no phase accumulator, no table,
// no reduction of the angle before the sine) and streams it out in order.
// Built with -ffp-contract=off: a fused multiply-add would change the angle.
//
// With the vector sine built in, a block is made in three passes: its angles,
// their vector estimates, and the rounding test on all of them; the few
// samples the test leaves open are settled one by one. Without it, each
// sample takes the C library's sine.
#include "sine_stream.hpp"

#include "exact_sine.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#if PURETONE_VECTOR
#include "vector_sine.hpp"
#endif

namespace puretone {

double sine_angle(std::int32_t index, double frequency)
{
    double t = static_cast<double>(index) / 44100.0;  // the sample rate
    t = t * frequency;
    t = t * 2.0;
    t = t * 3.141592653589793;  // pi, rounded to the nearest double
    return t;
}

std::int16_t sine_sample(std::int32_t index, double frequency)
{
    const double angle = sine_angle(index, frequency);
    return exact_sample(angle, std::sin(angle), libm_error_bound);
}

#if PURETONE_VECTOR

namespace {

// The two loops around the vector sine get a copy for each instruction set,
// chosen when the program loads. Division and multiplication round the same
// on all of them, and -ffp-contract=off keeps FMA out of the AVX-512 copy,
// so every copy gives the same bits.
#if defined(__ELF__)
#define PURETONE_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define PURETONE_VECTOR_CLONES
#endif

PURETONE_VECTOR_CLONES
void fill_angles(std::int32_t first, double frequency, double* angles, std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k)
        angles[k] = sine_angle(first + static_cast<std::int32_t>(k), frequency);
}

// The rounding test for a run of estimates, without branches so that it
// runs on vectors: samples[k] is the low end's sample, and the result is
// nonzero when any bracket straddles a boundary.
PURETONE_VECTOR_CLONES
std::int32_t settle_samples(const double* estimates, std::int16_t* samples, std::size_t count)
{
    std::int32_t open = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const sample_bracket ends = bracket_samples(estimates[k], vector_error_bound);
        samples[k] = static_cast<std::int16_t>(ends.low);
        open |= ends.low ^ ends.high;
    }
    return open;
}

// Rounds a count up to whole vectors.
std::size_t whole_vectors(std::size_t count)
{
    return (count + vector_lanes_max - 1) / vector_lanes_max * vector_lanes_max;
}

// The samples that the rounding test left open, nearly all of them peaks.
// Their angles are gathered and given vector cosines for the peak rule; the
// few that rule cannot settle are resolved one by one.
void settle_open_samples(const double* angles, const double* estimates, std::span<std::int16_t> samples)
{
    alignas(64) std::array<double, block_samples> open_angles;
    alignas(64) std::array<double, block_samples> cosines;
    std::array<std::size_t, block_samples> open_index;
    std::size_t open = 0;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        // Written every time, kept only when open: no branch to mispredict.
        const sample_bracket ends = bracket_samples(estimates[k], vector_error_bound);
        open_index[open] = k;
        open_angles[open] = angles[k];
        open += ends.low != ends.high;
    }
    const std::size_t padded = whole_vectors(open);
    std::fill(open_angles.begin() + open, open_angles.begin() + padded, 0.0);
    vector_estimates(widest_vector_isa(), trig_function::cosine, open_angles.data(), cosines.data(), padded);
    for (std::size_t j = 0; j < open; ++j) {
        const std::size_t k = open_index[j];
        const sample_bracket ends = bracket_samples(estimates[k], vector_error_bound);
        const auto peak = settle_peak(ends, cosines[j], vector_error_bound);
        samples[k] = peak ? *peak : resolve_sample(angles[k], estimates[k], vector_error_bound);
    }
}

}  // namespace

void sine_block(std::int32_t first, double frequency, std::span<std::int16_t> samples)
{
    alignas(64) std::array<double, block_samples> angles;
    alignas(64) std::array<double, block_samples> estimates;
    const std::size_t count = samples.size();
    fill_angles(first, frequency, angles.data(), count);
    // |t| never decreases with the index (each rounded step is monotonic), so
    // the angles in SLEEF's domain come first: `within` of them.
    const std::size_t within = static_cast<std::size_t>(
        std::partition_point(angles.begin(), angles.begin() + count,
                             [](double t) { return std::fabs(t) <= vector_domain; }) - angles.begin());
    // Vectors are whole: a short block is padded with harmless angles, and
    // the estimates of any angles beyond the domain that share a vector with
    // the last one within are computed but never read.
    const std::size_t padded = whole_vectors(within);
    if (padded > count)
        std::fill(angles.begin() + count, angles.begin() + padded, 0.0);
    vector_estimates(widest_vector_isa(), trig_function::sine, angles.data(), estimates.data(), padded);
    if (within < count) {
        for (std::size_t k = 0; k < count; ++k) {
            const double t = angles[k];
            samples[k] = k < within ? exact_sample(t, estimates[k], vector_error_bound)
                                    : exact_sample(t, std::sin(t), libm_error_bound);
        }
        return;
    }
    if (settle_samples(estimates.data(), samples.data(), count) != 0)
        settle_open_samples(angles.data(), estimates.data(), samples);
}

#else

void sine_block(std::int32_t first, double frequency, std::span<std::int16_t> samples)
{
    for (std::size_t k = 0; k < samples.size(); ++k)
        samples[k] = sine_sample(first + static_cast<std::int32_t>(k), frequency);
}

#endif

bool write_sine_samples(std::FILE* out, double frequency, std::int32_t sample_count)
{
    std::array<std::int16_t, block_samples> samples;
    std::array<unsigned char, 2 * block_samples> bytes;
    // Advance by what is left, never past sample_count: no index overflows.
    for (std::int32_t first = 0; first < sample_count;) {
        const std::int32_t count = std::min(block_samples, sample_count - first);
        sine_block(first, frequency, std::span(samples).first(static_cast<std::size_t>(count)));
        for (std::int32_t k = 0; k < count; ++k) {
            const auto bits = static_cast<std::uint16_t>(samples[k]);
            bytes[2 * k] = static_cast<unsigned char>(bits & 0xFF);
            bytes[2 * k + 1] = static_cast<unsigned char>(bits >> 8);
        }
        const auto size = 2 * static_cast<std::size_t>(count);
        if (std::fwrite(bytes.data(), 1, size, out) != size)
            return false;
        first += count;
    }
    return true;
}

}  // namespace puretone
