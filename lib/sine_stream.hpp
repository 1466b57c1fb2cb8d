// The sine sample stream: the samples of a tone at phase zero, in any rate
// and sample format, made from their indices, any run of them at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace puretone {

// What a tone's samples depend on.
struct tone_shape {
    double rate;       // frames per second, 1 to 768000
    double frequency;  // hertz
    double peak;       // P: a whole number below 2^31 for integer samples, in [0, 1] for float
};

// The angle of sample i, in double, in exactly this order: i / rate, times
// the frequency, times 2, times pi (the double nearest pi). The order fixes
// the last bits of the angle, and through the truncation, the samples. Its
// magnitude never decreases as i >= 0 grows (each step is monotonic).
double sine_angle(std::int32_t index, double frequency, double rate = 44100.0);

// trunc(32767 * RN(sin(angle))) at 44100 Hz, with RN the correctly rounded
// sine: the same value on every platform, whatever the C library's sin
// returns. One sample at a time, from the C library's sine: the reference
// the tests hold the block path to. Nothing where the accurate path leaves
// the sine open (exact_sine.hpp), which no known angle does.
std::optional<std::int16_t> sine_sample(std::int32_t index, double frequency);

// The same for any shape and sample type (int16_t, int32_t or float; see
// exact_sine.hpp for the formula).
template <class Sample>
std::optional<Sample> tone_sample(std::int32_t index, const tone_shape& tone);

// Samples are made this many at a time: memory stays fixed, and the vector
// loops get runs of samples long enough that a block's fixed costs are lost
// in its samples. A block's three arrays of doubles are on the stack, 6 KiB
// in all (and 1 KiB more while 16-bit samples are settled), so that a call
// fits a thread with a 16 KiB stack beside the thread's own records (and
// needs no allocation and no lock).
constexpr std::int32_t block_samples = 256;

// How a block's first estimates are taken: by the kernel sized to the
// sample type, within its proven bound, unless `first_bound`, where not 0,
// replaces that bound: a larger valid bound (at most 2^-20, and with
// P (1 + 2 first_bound) below 2^31, so that no integer end overflows) sends
// more samples to the fallbacks, which tests use to make them fire. Samples
// are the same for every plan.
struct block_plan {
    double first_bound = 0;
};

// samples[k] = tone_sample(first + k), for a span of at most block_samples,
// with first + size not above 2^31 - 1 and every angle within the
// reduction's domain. Returns how many samples the first estimates left
// open (after the peak rule): those that took a fallback. Sets `unsettled`
// (never clears it) where the accurate path left a sine open; those samples
// are then 0, and the block must not be used.
template <class Sample>
std::size_t tone_block(std::int32_t first, const tone_shape& tone, std::span<Sample> samples, bool& unsettled,
                       const block_plan& plan = {});

// samples[k] = tone_sample(first + k) for a span of any length, with the
// same limits, block by block. False where a sine was left unsettled.
template <class Sample>
[[nodiscard]] bool tone_samples(std::int32_t first, const tone_shape& tone, std::span<Sample> samples,
                                const block_plan& plan = {});

// The 16-bit full-scale tone at 44100 Hz, as above.
std::size_t sine_block(std::int32_t first, double frequency, std::span<std::int16_t> samples, bool& unsettled,
                       const block_plan& plan = {});
[[nodiscard]] bool sine_samples(std::int32_t first, double frequency, std::span<std::int16_t> samples);

}  // namespace puretone
