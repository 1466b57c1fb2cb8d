// One format description, from which both the header and the samples
// follow: the rate, the sample type and its width in the file, the peak P,
// the channels. Made from the public puretone_format by checking every
// field, so that nothing downstream sees a value out of range.
#pragma once

#include "include/puretone/puretone.h"

#include <cstdint>

namespace puretone {

enum class sample_type { s16, s24, s32, f32 };

struct tone_format {
    std::uint32_t rate;      // 1 .. 768000
    sample_type type;
    std::uint32_t channels;  // 1 .. 8
    double peak;             // P, as in the formula of puretone.h
};

constexpr std::uint32_t highest_rate = 768000;
constexpr std::uint32_t most_channels = 8;

// Bytes of one sample in the file: 2, 3, 4 or 4.
inline std::uint32_t sample_bytes(sample_type type)
{
    return type == sample_type::s16 ? 2 : type == sample_type::s24 ? 3 : 4;
}

inline std::uint32_t frame_bytes(const tone_format& format)
{
    return sample_bytes(format.type) * format.channels;
}

// Checks the description and computes P: PURETONE_OK, or the code of the
// first field out of range, in the order of the struct.
int read_format(const puretone_format* description, tone_format& format);

// P for a level: the whole number nearest F * ratio or F * 10^(dB/20),
// ties away from zero, for integer types of full scale F; RN of the ratio
// or of 10^(dB/20) for f32. Exact: a ratio's product by an FMA, a dBFS
// level's power by its own Ziv loop (decibel_peak.hpp), which reports
// PURETONE_ERROR_UNSETTLED rather than guess. The level is checked.
int peak_for(sample_type type, int level_kind, double level, double& peak);

}  // namespace puretone
