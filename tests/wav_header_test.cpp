#include "puretone/puretone.h"
#include "lib/wav_header.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string hex(const puretone::wav_header& header)
{
    std::string text;
    const auto append = [&text](const auto& record) {
        for (const std::uint8_t byte : record) {
            char digits[4];
            std::snprintf(digits, sizeof digits, "%02X ", byte);
            text += digits;
        }
    };
    append(header.riff);
    append(header.fmt);
    append(header.data);
    text.pop_back();
    return text;
}

const std::string fmt_hex = "66 6D 74 20 10 00 00 00 01 00 01 00 44 AC 00 00 88 58 01 00 02 00 10 00";

TEST(wav_header, bytes_for_sample_counts)
{
    const struct {
        std::int32_t sample_count;
        std::string riff_size, data_size;
    } cases[] = {
        {441000, "74 75 0D 00", "50 75 0D 00"},      // ten seconds, the default
        {88200, "34 B1 02 00", "10 B1 02 00"},       // two seconds
        {0, "24 00 00 00", "00 00 00 00"},           // header alone
        {2147449500, "5C F5 FE FF", "38 F5 FE FF"},  // 48695 seconds, the longest
    };
    for (const auto& c : cases) {
        const std::string expected =
            "52 49 46 46 " + c.riff_size + " 57 41 56 45 " + fmt_hex + " 64 61 74 61 " + c.data_size;
        EXPECT_EQ(hex(puretone::build_wav_header(c.sample_count)), expected) << c.sample_count;
    }
}

TEST(wav_header, the_api_writes_the_records_in_file_order)
{
    const auto header = puretone::build_wav_header(88200);
    unsigned char bytes[44];
    ASSERT_EQ(puretone_wav_header(88200, bytes), PURETONE_OK);
    EXPECT_EQ(0, std::memcmp(bytes, header.riff.data(), 12));
    EXPECT_EQ(0, std::memcmp(bytes + 12, header.fmt.data(), 24));
    EXPECT_EQ(0, std::memcmp(bytes + 36, header.data.data(), 8));
}

std::string hex_bytes(const unsigned char* bytes, std::size_t size)
{
    std::string text;
    for (std::size_t k = 0; k < size; ++k) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X ", bytes[k]);
        text += digits;
    }
    text.pop_back();
    return text;
}

TEST(wav_header, every_format_in_file_order)
{
    const std::string pcm_guid = "00 00 00 00 10 00 80 00 00 AA 00 38 9B 71";  // after the subtype's 16-bit code
    const struct {
        std::uint32_t rate;
        int format;
        std::uint32_t channels;
        std::int64_t frames;
        std::string bytes;
    } cases[] = {
        // 16-bit stereo: plain PCM at any rate.
        {48000, PURETONE_FORMAT_S16, 2, 10,
         "52 49 46 46 4C 00 00 00 57 41 56 45 66 6D 74 20 10 00 00 00 01 00 02 00 80 BB 00 00 00 EE 02 00 04 00 "
         "10 00 64 61 74 61 28 00 00 00"},
        // 24-bit mono, 3 frames: extensible, 9 data bytes and a pad byte
        // counted in the RIFF size (60 + 9 + 1 = 70).
        {96000, PURETONE_FORMAT_S24, 1, 3,
         "52 49 46 46 46 00 00 00 57 41 56 45 66 6D 74 20 28 00 00 00 FE FF 01 00 00 77 01 00 00 65 04 00 03 00 "
         "18 00 16 00 18 00 04 00 00 00 01 00 " + pcm_guid + " 64 61 74 61 09 00 00 00"},
        // 16-bit in 6 channels: extensible, 5.1; 529200 bytes a second.
        {44100, PURETONE_FORMAT_S16, 6, 1,
         "52 49 46 46 48 00 00 00 57 41 56 45 66 6D 74 20 28 00 00 00 FE FF 06 00 44 AC 00 00 30 13 08 00 0C 00 "
         "10 00 16 00 10 00 3F 00 00 00 01 00 " + pcm_guid + " 64 61 74 61 0C 00 00 00"},
        // Float mono: IEEE float, an empty extension, a fact chunk.
        {8000, PURETONE_FORMAT_F32, 1, 2,
         "52 49 46 46 3A 00 00 00 57 41 56 45 66 6D 74 20 12 00 00 00 03 00 01 00 40 1F 00 00 00 7D 00 00 04 00 "
         "20 00 00 00 66 61 63 74 04 00 00 00 02 00 00 00 64 61 74 61 08 00 00 00"},
        // Float in 8 channels: extensible with the float subtype, and fact.
        {768000, PURETONE_FORMAT_F32, 8, 1,
         "52 49 46 46 68 00 00 00 57 41 56 45 66 6D 74 20 28 00 00 00 FE FF 08 00 00 B8 0B 00 00 00 77 01 20 00 "
         "20 00 16 00 20 00 3F 06 00 00 03 00 " + pcm_guid + " 66 61 63 74 04 00 00 00 01 00 00 00 64 61 74 61 "
         "20 00 00 00"},
    };
    for (const auto& c : cases) {
        puretone_format format = PURETONE_FORMAT_INIT;
        format.rate = c.rate;
        format.sample_format = c.format;
        format.channels = c.channels;
        unsigned char bytes[PURETONE_HEADER_MAX];
        const int length = puretone_header_length(&format);
        ASSERT_EQ(puretone_header(&format, c.frames, bytes), PURETONE_OK);
        EXPECT_EQ(hex_bytes(bytes, static_cast<std::size_t>(length)), c.bytes) << c.format << " " << c.channels;
    }
    // The default format is the 44-byte header of puretone_wav_header.
    const puretone_format plain = PURETONE_FORMAT_INIT;
    unsigned char bytes[PURETONE_HEADER_MAX], old[44];
    ASSERT_EQ(puretone_header(&plain, 441000, bytes), PURETONE_OK);
    ASSERT_EQ(puretone_wav_header(441000, old), PURETONE_OK);
    EXPECT_EQ(puretone_header_length(&plain), 44);
    EXPECT_EQ(std::memcmp(bytes, old, 44), 0);
}

}  // namespace
