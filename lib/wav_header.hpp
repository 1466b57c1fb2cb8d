// RIFF/WAVE headers: the 44-byte one of a mono, 16-bit PCM, 44100 Hz file,
// and that of any format.
//
// The header is three fixed byte records, built in memory from the sample
// count alone before the output is opened, and written once at the start of
// the file. Every size is known up front, so the file is written strictly
// front to back and the output may be a pipe or a device that cannot seek.
#pragma once

#include <array>
#include <cstdint>

namespace puretone {

using riff_header = std::array<std::uint8_t, 12>;
using fmt_chunk = std::array<std::uint8_t, 24>;
using data_chunk_header = std::array<std::uint8_t, 8>;

struct wav_header {
    riff_header riff;
    fmt_chunk fmt;
    data_chunk_header data;
};

// Fills the three records for `sample_count` samples. The size fields hold
// the low 32 bits of 2*N + 36 and 2*N, exact for every N in 0..2147449500.
wav_header build_wav_header(std::int32_t sample_count);

}  // namespace puretone

#include "tone_format.hpp"

#include <cstddef>

namespace puretone {

// The header of a file in any format, and its length (44, 58, 68 or 80),
// as puretone_header describes it; header holds header_length(format)
// bytes.
std::size_t header_length(const tone_format& format);

// The most frames whose file's RIFF size fits 32 bits, at most 2^31.
std::int64_t longest_frames(const tone_format& format);

// Writes the header for frame_count frames, 0 .. longest_frames(format).
void build_header(const tone_format& format, std::int64_t frame_count, unsigned char* header);

}  // namespace puretone
