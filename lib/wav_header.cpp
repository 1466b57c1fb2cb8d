// Builds the headers. Multi-byte fields are stored one byte
// at a time, least significant first, so the bytes never depend on the host.
#include "wav_header.hpp"

#include <cstddef>
#include <algorithm>

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

// Any format, following Microsoft's rules for WAVE files: plain PCM
// (WAVE_FORMAT_PCM, a 16-byte fmt chunk) only for 16-bit samples in one or
// two channels; IEEE float (WAVE_FORMAT_IEEE_FLOAT, an 18-byte fmt chunk
// ending in a zero extension size) for float in one or two; for every
// other case WAVE_FORMAT_EXTENSIBLE, whose 40-byte fmt chunk adds the valid
// bits, the speakers and the real format's GUID. Every format but PCM has a
// fact chunk holding the frame count; this writes it for float, where
// readers look for it, and leaves it out of extensible PCM, where they
// don't. A chunk of odd size is followed by a zero pad byte, counted in the
// RIFF size but not in the chunk's.
namespace puretone {
namespace {

// The parts of the header that vary with the format.
struct header_layout {
    std::uint16_t format_tag;  // 1 PCM, 3 IEEE float, 0xFFFE extensible
    std::uint32_t fmt_size;    // 16, 18 or 40
    bool fact;                 // whether a fact chunk precedes the data
};

header_layout layout_of(const tone_format& format)
{
    const bool narrow = format.channels <= 2;
    if (format.type == sample_type::s16 && narrow)
        return {0x0001, 16, false};
    if (format.type == sample_type::f32 && narrow)
        return {0x0003, 18, true};
    return {0xFFFE, 40, format.type == sample_type::f32};
}

// The speakers of the channels, as Windows lays them out for each count:
// bits of SPEAKER_FRONT_LEFT (0x1), FRONT_RIGHT (0x2), FRONT_CENTER (0x4),
// LOW_FREQUENCY (0x8), BACK_LEFT (0x10), BACK_RIGHT (0x20), BACK_CENTER
// (0x100), SIDE_LEFT (0x200), SIDE_RIGHT (0x400). Mono is the centre,
// stereo left and right, 4 quadraphonic, 6 5.1, 8 7.1.
constexpr std::uint32_t channel_masks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x13F, 0x63F};

// KSDATAFORMAT_SUBTYPE_PCM, 00000001-0000-0010-8000-00AA00389B71, in its
// byte order on disk (the first three fields little-endian). The float
// subtype differs only in its first byte, 3.
constexpr std::uint8_t pcm_subtype[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                          0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Little-endian fields, one byte at a time, in file order.
struct byte_writer {
    unsigned char* at;
    void tag(const char (&text)[5])
    {
        for (std::size_t k = 0; k < 4; ++k)
            *at++ = static_cast<unsigned char>(text[k]);
    }
    void u16(std::uint32_t value)
    {
        *at++ = static_cast<unsigned char>(value);
        *at++ = static_cast<unsigned char>(value >> 8);
    }
    void u32(std::uint32_t value)
    {
        u16(value & 0xFFFF);
        u16(value >> 16);
    }
};

// The RIFF size of a file of data_size bytes of frames: everything after
// the RIFF size field, that is the header but its first 8 bytes, the data,
// and the pad byte after an odd data size.
std::uint64_t riff_size(const tone_format& format, std::uint64_t data_size)
{
    return header_length(format) - 8 + data_size + (data_size & 1);
}

}  // namespace

std::size_t header_length(const tone_format& format)
{
    const header_layout layout = layout_of(format);
    // "RIFF", size, "WAVE" (12); "fmt ", size, body; "fact", 4, frames (12);
    // "data", size (8).
    return 12 + 8 + layout.fmt_size + (layout.fact ? 12 : 0) + 8;
}

std::int64_t longest_frames(const tone_format& format)
{
    const std::uint64_t bytes = frame_bytes(format);
    std::uint64_t frames = (0xFFFFFFFFull - (header_length(format) - 8)) / bytes;
    if (riff_size(format, frames * bytes) > 0xFFFFFFFFull)
        --frames;  // the pad byte after an odd size did not fit
    return static_cast<std::int64_t>(std::min<std::uint64_t>(frames, std::uint64_t{1} << 31));
}

void build_header(const tone_format& format, std::int64_t frame_count, unsigned char* header)
{
    const header_layout layout = layout_of(format);
    const std::uint32_t bytes = sample_bytes(format.type);
    const std::uint32_t block = bytes * format.channels;
    const auto frames = static_cast<std::uint64_t>(frame_count);
    const std::uint64_t data_size = frames * block;
    byte_writer out{header};
    out.tag("RIFF");
    out.u32(static_cast<std::uint32_t>(riff_size(format, data_size)));
    out.tag("WAVE");
    out.tag("fmt ");
    out.u32(layout.fmt_size);
    out.u16(layout.format_tag);
    out.u16(format.channels);
    out.u32(format.rate);
    out.u32(format.rate * block);  // bytes per second: at most 768000 * 32, below 2^25
    out.u16(block);                // block alignment: the bytes of one frame
    out.u16(8 * bytes);            // bits per sample as stored: 16, 24 or 32
    if (layout.fmt_size >= 18)
        out.u16(layout.fmt_size - 18);  // the extension's size: 0, or 22 for extensible
    if (layout.fmt_size == 40) {
        out.u16(8 * bytes);  // valid bits: every stored bit carries the sample
        out.u32(channel_masks[format.channels]);
        for (std::size_t k = 0; k < 16; ++k)
            *out.at++ = k == 0 && format.type == sample_type::f32 ? 0x03 : pcm_subtype[k];
    }
    if (layout.fact) {
        out.tag("fact");
        out.u32(4);  // its body: one 32-bit count
        out.u32(static_cast<std::uint32_t>(frames));  // frames per channel: at most 2^31
    }
    out.tag("data");
    out.u32(static_cast<std::uint32_t>(data_size));
}

}  // namespace puretone
