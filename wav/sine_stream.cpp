// Computes each sample afresh from its index (no phase accumulator, no table,
// no reduction of the angle before the sine) and streams it out in order.
// Built with -ffp-contract=off: a fused multiply-add would change the angle.
#include "sine_stream.hpp"

#include "exact_sine.hpp"

#include <array>
#include <cmath>
#include <cstddef>

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
    const double estimate = std::sin(angle);
    if (const auto sample = settled_sample(estimate, libm_error_bound))
        return *sample;
    return resolve_sample(angle, estimate, libm_error_bound);
}

bool write_sine_samples(std::FILE* out, double frequency, std::int32_t sample_count)
{
    // 4096 samples a block: one fwrite per 8 KiB rather than a locked call
    // per 2-byte sample, which would cost more than the sine itself.
    std::array<unsigned char, 8192> block;
    std::size_t used = 0;
    for (std::int32_t i = 0; i < sample_count; ++i) {
        const auto bits = static_cast<std::uint16_t>(sine_sample(i, frequency));
        block[used++] = static_cast<unsigned char>(bits & 0xFF);
        block[used++] = static_cast<unsigned char>(bits >> 8);
        if (used == block.size()) {
            if (std::fwrite(block.data(), 1, used, out) != used)
                return false;
            used = 0;
        }
    }
    return std::fwrite(block.data(), 1, used, out) == used;
}

}  // namespace puretone
