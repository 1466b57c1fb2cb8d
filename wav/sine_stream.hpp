// The sine sample stream: N samples of a full-scale tone at phase zero,
// signed 16-bit little-endian, written in index order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

namespace puretone {

// The angle of sample i, in double, in exactly this order: i / 44100, times
// the frequency, times 2, times pi (the double nearest pi). The order fixes
// the last bits of the angle, and through the truncation, the samples.
double sine_angle(std::int32_t index, double frequency);

// trunc(32767 * RN(sin(angle))), with RN the correctly rounded sine: the same
// value on every platform, whatever the C library's sin returns. One sample
// at a time, from the C library's sine.
std::int16_t sine_sample(std::int32_t index, double frequency);

// Samples are made this many at a time: memory stays fixed, and the vector
// sine gets long runs of angles.
constexpr std::int32_t block_samples = 1024;

// samples[k] = sine_sample(first + k), for a span of at most block_samples,
// with first + size not above 2^31 - 1. Uses the vector sine where it is
// built in; `with_cosines` has it make every cosine in the same pass, which
// pays where many samples are peaks. Returns how many samples the rounding
// test could not settle without a cosine (0 without the vector sine): a
// hint for the next block.
std::size_t sine_block(std::int32_t first, double frequency, std::span<std::int16_t> samples,
                       bool with_cosines = false);

// Writes sine_sample(i) for i = 0 .. sample_count - 1, two bytes each, low
// byte first; nothing when sample_count <= 0. Memory is one block. Stops at
// the first failed write and returns false; errno says why.
bool write_sine_samples(std::FILE* out, double frequency, std::int32_t sample_count);

}  // namespace puretone
