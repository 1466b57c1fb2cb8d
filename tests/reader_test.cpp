// A real WAV reader, libsndfile, opens what the writer produced.
#include "app/tone_writer.hpp"
#include "wav/sine_stream.hpp"
#include "wav/wav_header.hpp"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<short> write_and_read(double frequency, std::int32_t sample_count, SF_INFO& info, int threads = 1)
{
    const auto path = std::filesystem::temp_directory_path() /
        ("puretone_reader_" + std::to_string(getpid()) + ".wav");
    const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(out, 0);
    EXPECT_EQ(puretone::write_tone(out, {frequency, sample_count, threads}), 0);
    EXPECT_EQ(close(out), 0);
    EXPECT_EQ(std::filesystem::file_size(path), 44u + 2u * static_cast<unsigned>(sample_count));

    info = SF_INFO{};
    SNDFILE* in = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(in, nullptr) << sf_strerror(nullptr);
    std::vector<short> samples(static_cast<std::size_t>(info.frames) + 1);
    if (in != nullptr) {
        samples.resize(static_cast<std::size_t>(sf_read_short(in, samples.data(), info.frames + 1)));
        sf_close(in);
    }
    std::filesystem::remove(path);
    return samples;
}

TEST(reader, sees_mono_pcm16_at_44100_with_every_sample)
{
    // With workers too: two chunks (131072 samples, then the rest), on 3 threads.
    for (const auto& [sample_count, threads] : {std::pair{88200, 1}, {1, 1}, {0, 1}, {200000, 3}}) {
        SF_INFO info;
        const auto samples = write_and_read(1000, sample_count, info, threads);
        EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        EXPECT_EQ(info.samplerate, 44100);
        EXPECT_EQ(info.channels, 1);
        EXPECT_EQ(info.frames, sample_count);
        ASSERT_EQ(samples.size(), static_cast<std::size_t>(sample_count));
        for (std::int32_t i = 0; i < sample_count; ++i)
            ASSERT_EQ(samples[static_cast<std::size_t>(i)], puretone::sine_sample(i, 1000)) << i;
    }
}

TEST(reader, ten_seconds_at_11025_hz_are_zeros_and_full_scale_peaks)
{
    SF_INFO info;
    std::map<short, int> counts;
    for (const short sample : write_and_read(11025, 441000, info))
        ++counts[sample];
    EXPECT_EQ(counts, (std::map<short, int>{{-32767, 110250}, {0, 220500}, {32767, 110250}}));
}

TEST(reader, ten_seconds_at_440_hz_peak_just_below_full_scale)
{
    SF_INFO info;
    const auto samples = write_and_read(440, 441000, info);
    ASSERT_EQ(samples.size(), 441000u);
    EXPECT_EQ(*std::max_element(samples.begin(), samples.end()), 32766);
    EXPECT_EQ(*std::min_element(samples.begin(), samples.end()), -32766);
}

}  // namespace
