// Signals: tones summed per channel, phases, fades and windows, bit for bit
// the MPFR oracle's, through the public call and with the interval test
// forced open; one plain tone as puretone_frames makes it; bad descriptions
// refused with their codes, the buffer untouched.
#include <puretone/puretone.h>
#include <puretone/puretone.hpp>

#include "lib/signal_stream.hpp"
#include "buffer_values.hpp"
#include "mpfr_oracle.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using puretone_test::oracle_format;
using puretone_test::oracle_signal_tone;

struct signal_case {
    const char* name;
    std::uint32_t rate;
    int format, level_kind;
    double level;
    std::uint32_t channels;
    std::vector<oracle_signal_tone> tones;
    std::int64_t length, fade_in, fade_out, start, count;
};

puretone_tone library_tone(const oracle_signal_tone& tone)
{
    return {tone.frequency, tone.level, tone.phase, tone.decibels ? PURETONE_LEVEL_DBFS : PURETONE_LEVEL_RATIO,
            tone.channels};
}

const signal_case cases[] = {
    {"SMPTE 60 Hz + 7 kHz, 4:1", 48000, PURETONE_FORMAT_S16, PURETONE_LEVEL_FULL, 0, 1,
     {{60, 0.8, 0, false, 0}, {7000, 0.2, 0, false, 0}}, 0, 0, 0, 0, 1500},
    {"DIN 250 Hz + 8 kHz, far out", 44100, PURETONE_FORMAT_S24, PURETONE_LEVEL_DBFS, -6, 1,
     {{250, 0.8, 0, false, 0}, {8000, 0.2, 0, false, 0}}, 0, 0, 0, 2000000000, 1000},
    {"CCIF 19 + 20 kHz", 96000, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 1,
     {{19000, 0.5, 0, false, 0}, {20000, 0.5, 0, false, 0}}, 0, 0, 0, 0, 1500},
    {"DTMF 1", 8000, PURETONE_FORMAT_S16, PURETONE_LEVEL_FULL, 0, 1,
     {{697, -6, 0, true, 0}, {1209, -6.1, 0, true, 0}}, 0, 0, 0, 0, 1000},
    {"channels identified, left 1 kHz, right 500 Hz", 48000, PURETONE_FORMAT_S16, PURETONE_LEVEL_FULL, 0, 2,
     {{1000, 1, 0, false, 1}, {500, 1, 0, false, 2}}, 0, 0, 0, 0, 1200},
    {"right at 90 degrees, a cosine", 48000, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 2,
     {{1000, 1, 0, false, 1}, {1000, 1, 0.25, false, 2}}, 0, 0, 0, 0, 1200},
    {"180 degrees and inverted", 44100, PURETONE_FORMAT_S32, PURETONE_LEVEL_FULL, 0, 3,
     {{1000, 1, 0, false, 1}, {1000, 1, 0.5, false, 2}, {1000, -1, 0, false, 4}}, 0, 0, 0, 0, 1000},
    {"one channel silent", 44100, PURETONE_FORMAT_F32, PURETONE_LEVEL_DBFS, -20, 2,
     {{997, 1, 0, false, 1}}, 0, 0, 0, 0, 1000},
    {"a level below full, f32 negative frequency", 44100, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 1,
     {{-440, 0.5, 0, false, 0}}, 0, 0, 0, 0, 500},
    {"fades of one frame", 48000, PURETONE_FORMAT_S16, PURETONE_LEVEL_FULL, 0, 1,
     {{1000, 1, 0, false, 0}}, 100, 1, 1, 0, 100},
    {"fades of two frames", 48000, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 2,
     {{1000, 1, 0.125, false, 0}}, 50, 2, 2, 0, 50},
    {"10 ms fades at 48 kHz", 48000, PURETONE_FORMAT_S24, PURETONE_LEVEL_FULL, 0, 1,
     {{1000, 0.5, 0, false, 0}, {3000, 0.5, 0, false, 0}}, 2000, 480, 480, 0, 2000},
    {"overlapping fades", 44100, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 1,
     {{440, 1, 0, false, 0}}, 300, 200, 250, 0, 300},
    {"a window across a fade-in's end", 48000, PURETONE_FORMAT_S16, PURETONE_LEVEL_FULL, 0, 1,
     {{1000, 1, 0, false, 0}}, 0, 480, 0, 400, 200},
    {"a window through a fade-out far out", 48000, PURETONE_FORMAT_S32, PURETONE_LEVEL_RATIO, 0.5, 1,
     {{997, 0.9, 0.3, false, 0}}, 2000000000, 0, 4800, 2000000000 - 3000, 3000},
    {"eight channels, eight tones", 768000, PURETONE_FORMAT_S32, PURETONE_LEVEL_FULL, 0, 8,
     {{100, 1, 0, false, 1}, {200, 1, 0, false, 2}, {300, 1, 0, false, 4}, {400, 1, 0, false, 8},
      {500, 1, 0, false, 16}, {600, 1, 0, false, 32}, {700, 1, 0, false, 64}, {-800, 1, 0.75, false, 128}},
     0, 0, 0, 1000, 300},
    {"a silent tone's signed zeros", 48000, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 1,
     {{1000, 0, 0, false, 0}, {1000, -0.0, 0, false, 0}}, 0, 0, 0, 0, 100},
    {"silent tones with fades, the signs of their zeros", 44100, PURETONE_FORMAT_F32, PURETONE_LEVEL_RATIO, 1e-30, 2,
     {{997, 0, 0, false, 0}, {-440, 0, 0.3, false, 2}}, 300, 10, 20, 0, 300},
    {"a peak so small f32 underflows", 48000, PURETONE_FORMAT_F32, PURETONE_LEVEL_RATIO, 1e-40, 1,
     {{1000, 0.5, 0, false, 0}, {3000, 0.5, 0, false, 0}}, 0, 0, 0, 0, 500},
    {"f32 far out, beyond 2^40", 8000, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 1,
     {{19999.5, 0.5, 0.1, false, 0}, {7000, -0.25, 0, false, 0}}, 0, 0, 0, 2000000000, 800},
    {"f32 zero crossings at a level: Nyquist, and 1 kHz at 48 kHz", 48000, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 2,
     {{24000, 0.5, 0, false, 1}, {1000, -0.75, 0.5, false, 2}}, 0, 0, 0, 1000000, 600},
    {"peaks in 32 bits, a cosine", 192000, PURETONE_FORMAT_S32, PURETONE_LEVEL_FULL, 0, 1,
     {{48000, 1, 0.25, false, 0}}, 0, 0, 0, 0, 500},
};

// The description of a case, with the storage it points into.
struct described {
    puretone_format format;
    std::vector<puretone_tone> tones;
    puretone_signal signal;
};

described describe(const signal_case& c)
{
    described d{puretone::format(c.rate, c.format, c.level_kind, c.level, c.channels), {}, PURETONE_SIGNAL_INIT};
    for (const oracle_signal_tone& tone : c.tones)
        d.tones.push_back(library_tone(tone));
    d.signal.tones = d.tones.data();
    d.signal.tone_count = static_cast<std::uint32_t>(d.tones.size());
    d.signal.length = c.length;
    d.signal.fade_in = c.fade_in;
    d.signal.fade_out = c.fade_out;
    return d;
}

void expect_oracle(const signal_case& c, const std::vector<unsigned char>& buffer, const char* path)
{
    const double peak = puretone_test::oracle_peak(
        {1, 0, static_cast<oracle_format>(c.format), c.level_kind, c.level});
    const puretone_test::oracle_signal signal{static_cast<double>(c.rate), static_cast<oracle_format>(c.format),
                                              peak, c.tones.data(), c.tones.size(), c.length, c.fade_in,
                                              c.fade_out};
    for (std::int64_t k = 0; k < c.count; ++k)
        for (std::uint32_t channel = 0; channel < c.channels; ++channel) {
            const double got = puretone_test::sample_value(buffer, c.format, static_cast<std::size_t>(k) * c.channels + channel);
            const double expected = puretone_test::oracle_signal_sample(c.start + k, channel, signal);
            const bool same_zero = c.format != PURETONE_FORMAT_F32 || std::signbit(got) == std::signbit(expected);
            ASSERT_TRUE(got == expected && same_zero)
                << c.name << " (" << path << "): frame " << c.start + k << ", channel " << channel + 1 << ": "
                << got << " not " << expected;
        }
}

TEST(signal, every_case_matches_the_oracle_bit_for_bit_and_so_does_the_exact_path)
{
    for (const signal_case& c : cases) {
        described d = describe(c);
        const std::size_t width = c.format == PURETONE_FORMAT_S16 ? 2 : 4;
        std::vector<unsigned char> buffer(static_cast<std::size_t>(c.count) * c.channels * width);
        ASSERT_EQ(puretone_signal_frames(&d.format, &d.signal, c.start, c.count, buffer.data()), PURETONE_OK)
            << c.name;
        expect_oracle(c, buffer, "the call");
        // The interval test forced open nearly everywhere: a bound of 2^-20
        // sends most frames to the exact path.
        puretone::tone_format format{};
        puretone::signal_shape shape{};
        ASSERT_EQ(puretone::read_format(&d.format, format), PURETONE_OK);
        ASSERT_EQ(puretone::read_signal(&d.signal, format, shape), PURETONE_OK);
        std::vector<unsigned char> forced(buffer.size(), 0xA5);
        bool settled = false;
        if (c.format == PURETONE_FORMAT_S16)
            settled = puretone::signal_frames(c.start, c.count, shape, format,
                                              reinterpret_cast<std::int16_t*>(forced.data()), {0x1p-20});
        else if (c.format == PURETONE_FORMAT_F32)
            settled = puretone::signal_frames(c.start, c.count, shape, format,
                                              reinterpret_cast<float*>(forced.data()), {0x1p-20});
        else
            settled = puretone::signal_frames(c.start, c.count, shape, format,
                                              reinterpret_cast<std::int32_t*>(forced.data()), {0x1p-20});
        ASSERT_TRUE(settled) << c.name;
        EXPECT_TRUE(forced == buffer) << c.name << ": the exact path differs";
    }
}

TEST(signal, one_plain_tone_is_the_tone_of_puretone_frames)
{
    for (const int sample_format : {PURETONE_FORMAT_S16, PURETONE_FORMAT_S24, PURETONE_FORMAT_F32}) {
        const puretone_format format = puretone::format(48000, sample_format, PURETONE_LEVEL_DBFS, -3, 2);
        const puretone_tone tone{1000, 0, 0, PURETONE_LEVEL_FULL, 0};
        puretone_signal signal = PURETONE_SIGNAL_INIT;
        signal.tones = &tone;
        signal.tone_count = 1;
        std::vector<std::int32_t> a(2 * 3000), b(2 * 3000);
        ASSERT_EQ(puretone_signal_frames(&format, &signal, 777, 3000, a.data()), PURETONE_OK);
        ASSERT_EQ(puretone_frames(&format, 1000, 777, 3000, b.data()), PURETONE_OK);
        EXPECT_TRUE(a == b) << sample_format;
    }
}

TEST(signal, bad_descriptions_give_their_codes_and_write_nothing)
{
    const puretone_format stereo = puretone::format(48000, PURETONE_FORMAT_S16, PURETONE_LEVEL_FULL, 0, 2);
    const double infinity = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const struct {
        puretone_tone first, second;
        std::uint32_t tone_count;
        std::int64_t length, fade_in, fade_out, start, count;
        int code;
    } cases[] = {
        {{1000, 0.5, 0, 1, 0}, {500, 0.5, 0, 1, 0}, 2, 0, 0, 0, 0, 10, PURETONE_OK},
        {{1000, 0.5, 0, 1, 1}, {500, 0.6, 0, 1, 2}, 2, 0, 0, 0, 0, 10, PURETONE_OK},  // 0.5 and 0.6
        {{1000, 0.5, 0, 1, 0}, {500, 0.6, 0, 1, 0}, 2, 0, 0, 0, 0, 10, PURETONE_ERROR_SUM},
        {{1000, -6, 0, 2, 0}, {500, -6, 0, 2, 0}, 2, 0, 0, 0, 0, 10, PURETONE_ERROR_SUM},  // 1.0024
        {{1000, 0, 0, 0, 0}, {500, 0, 0, 0, 2}, 2, 0, 0, 0, 0, 10, PURETONE_ERROR_SUM},    // full + full
        {{1000, 1.5, 0, 1, 0}, {}, 1, 0, 0, 0, 0, 10, PURETONE_ERROR_LEVEL},
        {{1000, -1.5, 0, 1, 0}, {}, 1, 0, 0, 0, 0, 10, PURETONE_ERROR_LEVEL},
        {{1000, 1, 0, 2, 0}, {}, 1, 0, 0, 0, 0, 10, PURETONE_ERROR_LEVEL},  // +1 dB
        {{1000, 0, 0, 7, 0}, {}, 1, 0, 0, 0, 0, 10, PURETONE_ERROR_LEVEL},
        {{infinity, 0, 0, 0, 0}, {}, 1, 0, 0, 0, 0, 10, PURETONE_ERROR_FREQUENCY},
        {{4294967296.0, 0, 0, 0, 0}, {}, 1, 0, 0, 0, 0, 10, PURETONE_ERROR_FREQUENCY},
        {{1000, 0, nan, 0, 0}, {}, 1, 0, 0, 0, 0, 10, PURETONE_ERROR_TONE},
        {{1000, 0, 0, 0, 4}, {}, 1, 0, 0, 0, 0, 10, PURETONE_ERROR_TONE},  // channel 3 of 2
        {{1000, 0, 0, 0, 0}, {}, 17, 0, 0, 0, 0, 10, PURETONE_ERROR_TONE},
        {{1000, 0, 0, 0, 0}, {}, 1, 0, 0, 10, 0, 10, PURETONE_ERROR_FADE},  // a fade-out with no length
        {{1000, 0, 0, 0, 0}, {}, 1, 100, 101, 0, 0, 10, PURETONE_ERROR_FADE},
        {{1000, 0, 0, 0, 0}, {}, 1, 100, -1, 0, 0, 10, PURETONE_ERROR_FADE},
        {{1000, 0, 0, 0, 0}, {}, 1, -1, 0, 0, 0, 10, PURETONE_ERROR_FRAME_COUNT},
        {{1000, 0, 0, 0, 0}, {}, 1, 100, 0, 0, 95, 10, PURETONE_ERROR_WINDOW},  // past the length
        {{1000, 0, 0, 0, 0}, {}, 1, 0, 0, 0, 2147483640, 10, PURETONE_ERROR_WINDOW},
        {{1000, 0, 0, 0, 0}, {}, 1, 0, 0, 0, -1, 10, PURETONE_ERROR_START},
        {{1000, 0, 1e15, 0, 0}, {}, 1, 0, 0, 0, 0, 10, PURETONE_ERROR_TONE},  // beyond 2^31 cycles
    };
    for (const auto& c : cases) {
        const puretone_tone tones[PURETONE_TONES_MAX + 1] = {c.first, c.second};
        puretone_signal signal = PURETONE_SIGNAL_INIT;
        signal.tones = tones;
        signal.tone_count = c.tone_count;
        signal.length = c.length;
        signal.fade_in = c.fade_in;
        signal.fade_out = c.fade_out;
        std::vector<std::int16_t> buffer(2 * 10, 7);
        const int code = puretone_signal_frames(&stereo, &signal, c.start, c.count, buffer.data());
        EXPECT_EQ(code, c.code) << c.first.frequency << " " << c.tone_count << " " << c.length;
        if (code != PURETONE_OK) {
            EXPECT_EQ(buffer, std::vector<std::int16_t>(2 * 10, 7));
        }
        EXPECT_NE(std::string(puretone_strerror(code)), "unknown puretone error code");
    }
    // An angle beyond the reduction's domain, at the window's last frame.
    const puretone_format slow = puretone::format(1, PURETONE_FORMAT_S16, PURETONE_LEVEL_FULL, 0, 1);
    const puretone_tone fast{2147483648.0, 0, 0.5, PURETONE_LEVEL_FULL, 0};
    puretone_signal far = PURETONE_SIGNAL_INIT;
    far.tones = &fast;
    far.tone_count = 1;
    EXPECT_EQ(puretone_signal_frames(&slow, &far, 0, 100000, nullptr), PURETONE_ERROR_ANGLE);
    EXPECT_EQ(puretone_signal_frames(&slow, &far, 0, 1000, nullptr), PURETONE_ERROR_NULL);
    // The description itself: NULL, a size or a tone size it does not know,
    // unknown fields not zero; no tones where some are counted.
    puretone_signal signal = PURETONE_SIGNAL_INIT;
    EXPECT_EQ(puretone_signal_frames(&stereo, nullptr, 0, 1, nullptr), PURETONE_ERROR_DESCRIPTION);
    signal.size = 8;
    EXPECT_EQ(puretone_signal_frames(&stereo, &signal, 0, 1, nullptr), PURETONE_ERROR_DESCRIPTION);
    signal = PURETONE_SIGNAL_INIT;
    signal.tone_size = 8;
    EXPECT_EQ(puretone_signal_frames(&stereo, &signal, 0, 1, nullptr), PURETONE_ERROR_DESCRIPTION);
    signal = PURETONE_SIGNAL_INIT;
    signal.reserved = 1;
    EXPECT_EQ(puretone_signal_frames(&stereo, &signal, 0, 1, nullptr), PURETONE_ERROR_DESCRIPTION);
    signal = PURETONE_SIGNAL_INIT;
    signal.tone_count = 1;
    EXPECT_EQ(puretone_signal_frames(&stereo, &signal, 0, 1, nullptr), PURETONE_ERROR_NULL);
    // No tone at all is silence, +0 in every channel.
    signal = PURETONE_SIGNAL_INIT;
    std::vector<float> silence(2 * 5, 1.0f);
    const puretone_format floats = puretone::format(48000, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 2);
    ASSERT_EQ(puretone_signal_frames(&floats, &signal, 0, 5, silence.data()), PURETONE_OK);
    for (const float sample : silence)
        EXPECT_EQ(std::bit_cast<std::uint32_t>(sample), 0u);
}

}  // namespace
