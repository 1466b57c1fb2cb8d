// A real WAV reader, libsndfile, opens what the writer produced.
#include "app/tone_writer.hpp"
#include "lib/sine_stream.hpp"
#include "lib/exact_sine.hpp"
#include "lib/wav_header.hpp"
#include "mpfr_oracle.hpp"

#include <puretone/puretone.hpp>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A plan for one plain tone (which must outlive it) at `format`.
puretone::tone_plan plan_of(const puretone_tone& tone, std::int32_t frames, int threads,
                            const puretone_format& format = PURETONE_FORMAT_INIT)
{
    puretone_signal signal = PURETONE_SIGNAL_INIT;
    signal.tones = &tone;
    signal.tone_count = 1;
    return {signal, frames, threads, format};
}

std::vector<short> write_and_read(double frequency, std::int32_t sample_count, SF_INFO& info, int threads = 1)
{
    const auto path = std::filesystem::temp_directory_path() /
        ("puretone_reader_" + std::to_string(getpid()) + ".wav");
    const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(out, 0);
    const puretone_tone tone{frequency, 0, 0, PURETONE_LEVEL_FULL, 0};
    EXPECT_EQ(puretone::write_tone(out, plan_of(tone, sample_count, threads)), 0);
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
            ASSERT_EQ(samples[static_cast<std::size_t>(i)], puretone::sine_sample(i, 1000).value()) << i;
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

TEST(reader, reads_every_format_back_with_its_rate_channels_subtype_and_samples)
{
    const struct {
        std::uint32_t rate;
        int format;
        int level_kind;
        double level;
        std::uint32_t channels;
        std::int32_t frames;
        int subtype;
        int threads;
    } cases[] = {
        {48000, PURETONE_FORMAT_S16, PURETONE_LEVEL_FULL, 0, 2, 48000, SF_FORMAT_PCM_16, 1},
        {48000, PURETONE_FORMAT_S24, PURETONE_LEVEL_DBFS, -18, 1, 4801, SF_FORMAT_PCM_24, 1},  // odd: a pad byte
        {44100, PURETONE_FORMAT_S24, PURETONE_LEVEL_FULL, 0, 3, 300001, SF_FORMAT_PCM_24, 3},
        {192000, PURETONE_FORMAT_S32, PURETONE_LEVEL_FULL, 0, 2, 19200, SF_FORMAT_PCM_32, 1},
        {96000, PURETONE_FORMAT_F32, PURETONE_LEVEL_RATIO, 0.5, 1, 9600, SF_FORMAT_FLOAT, 1},
        {768000, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 8, 400000, SF_FORMAT_FLOAT, 2},
        {8000, PURETONE_FORMAT_S16, PURETONE_LEVEL_RATIO, 0.25, 6, 8000, SF_FORMAT_PCM_16, 1},
    };
    const puretone_tone tone{1000, 0, 0, PURETONE_LEVEL_FULL, 0};
    for (const auto& c : cases) {
        const puretone_format format = puretone::format(c.rate, c.format, c.level_kind, c.level, c.channels);
        const auto path = std::filesystem::temp_directory_path() /
            ("puretone_reader_" + std::to_string(getpid()) + ".wav");
        const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(out, 0);
        EXPECT_EQ(puretone::write_tone(out, plan_of(tone, c.frames, c.threads, format)), 0);
        EXPECT_EQ(close(out), 0);
        // The file's size: header, frames, the pad byte after an odd size.
        const auto data = static_cast<std::uintmax_t>(c.frames) * c.channels *
            (c.format == PURETONE_FORMAT_S16 ? 2u : c.format == PURETONE_FORMAT_S24 ? 3u : 4u);
        EXPECT_EQ(std::filesystem::file_size(path),
                  static_cast<std::uintmax_t>(puretone_header_length(&format)) + data + data % 2);
        EXPECT_EQ(std::filesystem::file_size(path),
                  static_cast<std::uintmax_t>(puretone::tone_file_size(plan_of(tone, c.frames, 1, format))));

        SF_INFO info{};
        SNDFILE* in = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(in, nullptr) << sf_strerror(nullptr);
        // WAVE_FORMAT_EXTENSIBLE is SF_FORMAT_WAVEX to libsndfile.
        const bool plain = c.channels <= 2 && (c.format == PURETONE_FORMAT_S16 || c.format == PURETONE_FORMAT_F32);
        EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, plain ? SF_FORMAT_WAV : SF_FORMAT_WAVEX) << c.channels;
        EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, c.subtype);
        EXPECT_EQ(info.samplerate, static_cast<int>(c.rate));
        EXPECT_EQ(info.channels, static_cast<int>(c.channels));
        EXPECT_EQ(info.frames, c.frames);
        // As the library gives them, every channel of every frame.
        std::vector<std::int32_t> expected(static_cast<std::size_t>(c.frames) * c.channels);
        ASSERT_EQ(puretone_frames(&format, 1000, 0, c.frames, expected.data()), PURETONE_OK);
        if (c.format == PURETONE_FORMAT_F32) {
            std::vector<float> read(expected.size());
            EXPECT_EQ(sf_readf_float(in, read.data(), c.frames), c.frames);
            const auto* values = reinterpret_cast<const float*>(expected.data());
            for (std::size_t k = 0; k < read.size(); ++k)
                ASSERT_EQ(std::bit_cast<std::uint32_t>(read[k]), std::bit_cast<std::uint32_t>(values[k])) << k;
        } else {
            // libsndfile gives every integer format as the top bits of an int.
            std::vector<int> read(expected.size());
            EXPECT_EQ(sf_readf_int(in, read.data(), c.frames), c.frames);
            const int shift = c.format == PURETONE_FORMAT_S16 ? 16 : c.format == PURETONE_FORMAT_S24 ? 8 : 0;
            for (std::size_t k = 0; k < read.size(); ++k) {
                const std::int32_t value = c.format == PURETONE_FORMAT_S16
                    ? reinterpret_cast<const std::int16_t*>(expected.data())[k] : expected[k];
                ASSERT_EQ(read[k], static_cast<int>(static_cast<std::uint32_t>(value) << shift)) << k;
            }
        }
        sf_close(in);
        std::filesystem::remove(path);
    }
}

// A signal of two tones a channel, a phase, an inverted tone and fades,
// stereo f32 across chunks on two threads: libsndfile reads back the
// oracle's samples.
TEST(reader, reads_a_stereo_signal_of_several_tones_with_the_oracles_samples)
{
    const puretone_format format = puretone::format(48000, PURETONE_FORMAT_F32, PURETONE_LEVEL_DBFS, -3, 2);
    const puretone_tone tones[] = {{1000, 0.5, 0, PURETONE_LEVEL_RATIO, 1}, {250, -0.5, 0, PURETONE_LEVEL_RATIO, 1},
                                   {1000, -6, 0.25, PURETONE_LEVEL_DBFS, 2}, {7000, 0.25, 0, PURETONE_LEVEL_RATIO, 2}};
    const std::int32_t frames = 150000;
    puretone_signal signal = PURETONE_SIGNAL_INIT;
    signal.tones = tones;
    signal.tone_count = 4;
    signal.length = frames;
    signal.fade_in = 480;
    signal.fade_out = 4800;
    const auto path = std::filesystem::temp_directory_path() / ("puretone_reader_" + std::to_string(getpid()) + ".wav");
    const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(out, 0);
    EXPECT_EQ(puretone::write_tone(out, {signal, frames, 2, format}), 0);
    EXPECT_EQ(close(out), 0);
    SF_INFO info{};
    SNDFILE* in = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(in, nullptr) << sf_strerror(nullptr);
    std::vector<float> read(2 * static_cast<std::size_t>(frames));
    EXPECT_EQ(sf_readf_float(in, read.data(), frames), frames);
    sf_close(in);
    std::filesystem::remove(path);
    using puretone_test::oracle_format;
    const puretone_test::oracle_signal_tone parts[] = {
        {1000, 0.5, 0, false, 1}, {250, -0.5, 0, false, 1}, {1000, -6, 0.25, true, 2}, {7000, 0.25, 0, false, 2}};
    const double peak = puretone_test::oracle_peak({1, 0, oracle_format::f32, PURETONE_LEVEL_DBFS, -3});
    const puretone_test::oracle_signal oracle{48000, oracle_format::f32, peak, parts, 4, frames, 480, 4800};
    // The fades, a stretch across a chunk's end (65536 frames of 8 bytes
    // make 512 KiB), and every 97th frame elsewhere.
    for (std::int32_t i = 0; i < frames; ++i) {
        const bool chosen = i < 600 || i >= frames - 4900 || (i > 65000 && i < 66100) || i % 97 == 0;
        for (std::uint32_t c = 0; chosen && c < 2; ++c) {
            const float expected = static_cast<float>(puretone_test::oracle_signal_sample(i, c, oracle));
            ASSERT_EQ(std::bit_cast<std::uint32_t>(read[2 * static_cast<std::size_t>(i) + c]),
                      std::bit_cast<std::uint32_t>(expected)) << "frame " << i << ", channel " << c + 1;
        }
    }
}

}  // namespace
