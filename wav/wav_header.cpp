// Builds the 44-byte header. Multi-byte fields are stored one byte
// at a time, least significant first, so the bytes never depend on the host.
#include "wav_header.hpp"

#include <cstddef>

namespace puretone {
namespace {

template <std::size_t size>
void put_tag(std::array<std::uint8_t, size>& record, std::size_t at, const char (&tag)[5])
{
    for (std::size_t k = 0; k < 4; ++k)  // the tag's four characters, not its terminating zero
        record[at + k] = static_cast<std::uint8_t>(tag[k]);
}

template <std::size_t size>
void put_u32_le(std::array<std::uint8_t, size>& record, std::size_t at, std::uint32_t value)
{
    for (std::size_t k = 0; k < 4; ++k)
        record[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
}

// Every byte of the format chunk is fixed: the rate, the channel count and
// the sample width cannot change, so neither can 88200 nor 2.
constexpr fmt_chunk fixed_fmt_chunk = {
    'f', 'm', 't', ' ',
    0x10, 0x00, 0x00, 0x00,  // chunk size 16: the PCM format body that follows
    0x01, 0x00,              // format tag 1: integer PCM
    0x01, 0x00,              // 1 channel
    0x44, 0xAC, 0x00, 0x00,  // 44100 samples per second
    0x88, 0x58, 0x01, 0x00,  // 88200 bytes per second: 44100 samples of 2 bytes
    0x02, 0x00,              // block alignment 2: one 16-bit sample per frame
    0x10, 0x00,              // 16 bits per sample
};

}  // namespace

wav_header build_wav_header(std::int32_t sample_count)
{
    // Unsigned 32-bit arithmetic: the stored fields are the low 32 bits.
    const std::uint32_t data_size = static_cast<std::uint32_t>(sample_count) * 2u;
    // 36: "WAVE" (4) + fmt chunk (24) + data chunk header (8), the part of the
    // RIFF chunk after its size field that is not sample data.
    const std::uint32_t riff_size = data_size + 36u;

    wav_header header{};
    put_tag(header.riff, 0, "RIFF");
    put_u32_le(header.riff, 4, riff_size);
    put_tag(header.riff, 8, "WAVE");
    header.fmt = fixed_fmt_chunk;
    put_tag(header.data, 0, "data");
    put_u32_le(header.data, 4, data_size);
    return header;
}

}  // namespace puretone
