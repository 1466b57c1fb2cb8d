// The sine sample stream: the samples of a full-scale tone at phase zero,
// made from their indices, any run of them at a time.
#pragma once

#include <cstddef>
#include <cstdint>
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
// sine gets runs of angles long enough that a block's fixed costs are lost
// in its samples. A block's three arrays of doubles are on the stack, 6 KiB
// in all, so that a call fits a thread with a 16 KiB stack beside the
// thread's own records (and needs no allocation and no lock).
constexpr std::int32_t block_samples = 256;

// samples[k] = sine_sample(first + k), for a span of at most block_samples,
// with first + size not above 2^31 - 1. Uses the vector sine where it is
// built in; `with_cosines` has it make every cosine in the same pass, which
// pays where many samples are peaks. Returns how many samples the rounding
// test could not settle without a cosine (0 without the vector sine): a
// hint for the next block.
std::size_t sine_block(std::int32_t first, double frequency, std::span<std::int16_t> samples,
                       bool with_cosines = false);

// samples[k] = sine_sample(first + k) for a span of any length, with first +
// size not above 2^31 - 1: block by block, each block's cosines made in its
// vector pass where the block before had many open samples.
void sine_samples(std::int32_t first, double frequency, std::span<std::int16_t> samples);

}  // namespace puretone
