#include "puretone/puretone.h"
#include "wav/wav_header.hpp"

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

}  // namespace
