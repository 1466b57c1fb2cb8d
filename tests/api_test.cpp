// The public API as a user calls it: windows anywhere in any tone, bit for
// bit the MPFR oracle's; the same from a thread with the smallest stack,
// and whatever floating-point environment the caller set, which it gets
// back; bad input refused with a code and a message, the buffer untouched;
// the C++ wrapper's exceptions.
#include <puretone/puretone.h>
#include <puretone/puretone.hpp>

#include "buffer_values.hpp"
#include "mpfr_oracle.hpp"

#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <bit>
#include <cfenv>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using puretone_test::oracle;

constexpr std::int64_t index_end = std::int64_t{1} << 31;

TEST(api, windows_anywhere_match_the_oracle_bit_for_bit)
{
    // Whole and fractional frequencies; peak-heavy ones (11025, 3675); the
    // largest magnitude, 2^31; windows at the start, across blocks, and at
    // the very end of the index range, where angles reach 6.6e14.
    const double frequencies[] = {440.0, 11025.0, -3675.0, 1000.5, 0.001, 2147483648.0, -2147483648.0,
                                  440.0 / 3.0, 22050.0, 0.0};
    const std::int64_t starts[] = {0, 1023, 5000000, 2147449500 - 700, index_end - 2100};
    for (const double frequency : frequencies)
        for (const std::int64_t start : starts) {
            std::vector<std::int16_t> window(2100);
            ASSERT_EQ(puretone_samples(frequency, start, 2100, window.data()), PURETONE_OK);
            for (std::size_t k = 0; k < window.size(); k += 7)  // a stride keeps MPFR's time down
                ASSERT_EQ(window[k], oracle(static_cast<std::int32_t>(start + static_cast<std::int64_t>(k)),
                                            frequency).sample)
                    << frequency << " Hz, index " << start + static_cast<std::int64_t>(k);
            // A window inside it is the same slice.
            std::vector<std::int16_t> inner(333);
            ASSERT_EQ(puretone_samples(frequency, start + 1001, 333, inner.data()), PURETONE_OK);
            EXPECT_TRUE(std::equal(inner.begin(), inner.end(), window.begin() + 1001)) << frequency;
        }
}

// Windows that take each path: plain (440 Hz, and 2^31 Hz with angles near
// 6.6e14), peak-heavy with cosines in the vector pass (11025 Hz), a
// subnormal frequency whose angles underflow, and across many blocks.
struct window_case {
    double frequency;
    std::int64_t start, count;
};
constexpr window_case path_windows[] = {
    {440.0, 13230000, 5000}, {11025.0, 70000, 5000}, {2147483648.0, index_end - 5000, 5000},
    {5e-324, 0, 3000}, {-3675.0, 1, 40000}};

std::vector<std::int16_t> window_samples(const window_case& window)
{
    std::vector<std::int16_t> samples(static_cast<std::size_t>(window.count));
    if (puretone_samples(window.frequency, window.start, window.count, samples.data()) != PURETONE_OK)
        samples.clear();
    return samples;
}

TEST(api, a_thread_with_the_smallest_stack_makes_the_same_samples)
{
    // No call needs more than a few KiB of stack: 16 KiB, or the system's
    // least if that is more, holds the thread's own records too. The
    // sanitizers' instrumentation needs several times the stack of the code.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr std::size_t stack_size = 256 * 1024;
#else
    constexpr std::size_t stack_size = 16 * 1024;
#endif
    struct job {
        std::vector<std::vector<std::int16_t>> made;
    } work;
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, std::max<std::size_t>(stack_size, PTHREAD_STACK_MIN)), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, [](void* argument) -> void* {
        for (const window_case& window : path_windows)
            static_cast<job*>(argument)->made.push_back(window_samples(window));
        return nullptr;
    }, &work), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    for (std::size_t k = 0; k < std::size(path_windows); ++k)
        EXPECT_EQ(work.made[k], window_samples(path_windows[k])) << path_windows[k].frequency << " Hz";
}

TEST(api, the_callers_floating_point_environment_changes_nothing_and_comes_back)
{
    std::vector<std::vector<std::int16_t>> expected;
    for (const window_case& window : path_windows)
        expected.push_back(window_samples(window));
    // Each row sets a rounding mode, sticky flags, and traps where the CPU
    // has them: an enabled underflow trap would turn the subnormal
    // frequency's angles into SIGFPE.
    struct environment_case {
        const char* name;
        int rounding, flags, traps;
    };
    const environment_case environments[] = {
        {"upward", FE_UPWARD, 0, 0},
        {"downward, inexact", FE_DOWNWARD, FE_INEXACT, 0},
        {"toward zero, every flag", FE_TOWARDZERO, FE_ALL_EXCEPT, 0},
        {"nearest, underflow trap", FE_TONEAREST, 0, FE_UNDERFLOW},
        {"upward, every trap", FE_UPWARD, 0, FE_ALL_EXCEPT},
    };
    for (const environment_case& environment : environments) {
        std::fesetenv(FE_DFL_ENV);
        std::feraiseexcept(environment.flags);  // before any trap is enabled
        ASSERT_EQ(std::fesetround(environment.rounding), 0);
        if (environment.traps != 0 && feenableexcept(environment.traps) == -1) {
            std::fesetenv(FE_DFL_ENV);
            continue;  // this CPU (or its emulator) cannot trap: nothing to check
        }
        std::vector<std::vector<std::int16_t>> made;
        const int traps_before = fegetexcept();
        const int flags_before = std::fetestexcept(FE_ALL_EXCEPT);
        for (const window_case& window : path_windows)
            made.push_back(window_samples(window));
        const int rounding_after = std::fegetround(), traps_after = fegetexcept();
        const int flags_after = std::fetestexcept(FE_ALL_EXCEPT);
        std::fesetenv(FE_DFL_ENV);
        EXPECT_EQ(made, expected) << environment.name;
        EXPECT_EQ(rounding_after, environment.rounding) << environment.name;
        EXPECT_EQ(traps_after, traps_before) << environment.name;
        EXPECT_EQ(flags_after, flags_before) << environment.name;
    }
}

// Frame `k` of a window read back as a double: the integer, or the float.

TEST(api, every_rate_format_and_level_matches_the_oracle_bit_for_bit)
{
    using puretone_test::oracle_format;
    const struct {
        std::uint32_t rate;
        double frequency;
        int format;
        int level_kind;
        double level;
        std::uint32_t channels;
        std::int64_t start;
    } cases[] = {
        {8000, 3999, PURETONE_FORMAT_S16, PURETONE_LEVEL_FULL, 0, 1, 0},           // just below half the rate
        {48000, 1000, PURETONE_FORMAT_S24, PURETONE_LEVEL_DBFS, -18, 1, 0},        // broadcast line-up
        {48000, 1000, PURETONE_FORMAT_S24, PURETONE_LEVEL_DBFS, -20, 2, 123456789},
        {96000, 1000, PURETONE_FORMAT_F32, PURETONE_LEVEL_RATIO, 0.5, 1, 0},
        {192000, 997, PURETONE_FORMAT_S32, PURETONE_LEVEL_FULL, 0, 2, 5000},       // s32 stereo
        {192000, 48000, PURETONE_FORMAT_S32, PURETONE_LEVEL_FULL, 0, 1, 0},        // peaks in 32 bits
        {1, 0.25, PURETONE_FORMAT_S16, PURETONE_LEVEL_FULL, 0, 1, 0},              // a 1 Hz rate
        {1, 1.0e-3, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 1, 2147483648 - 3000},
        {768000, 20000, PURETONE_FORMAT_S24, PURETONE_LEVEL_RATIO, 0.1, 8, 0},     // 8 channels
        {768000, -2147483648.0, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 1, 2147483648 - 3000},
        {44100, 30000, PURETONE_FORMAT_S16, PURETONE_LEVEL_DBFS, -6.0206, 1, 0},   // above half the rate
        {44100, -440, PURETONE_FORMAT_F32, PURETONE_LEVEL_DBFS, -3, 3, 0},         // negative: -0.0f first
        {22050, -1234.5, PURETONE_FORMAT_S32, PURETONE_LEVEL_RATIO, 0.999, 1, 1000000000},
        {48000, 1000, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 1, 0},          // zero crossings every 24th
        {44100, 11025, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 1, 2000000000},  // every other, far out
        {48000, 12000, PURETONE_FORMAT_F32, PURETONE_LEVEL_DBFS, -40, 1, 0},
        {48000, 12000, PURETONE_FORMAT_S16, PURETONE_LEVEL_RATIO, 1.0 / 32767, 1, 0},  // P = 1
        {11025, 440, PURETONE_FORMAT_S24, PURETONE_LEVEL_RATIO, 0, 1, 0},          // silence
    };
    constexpr std::int64_t frames = 2500;
    for (const auto& c : cases) {
        const puretone_format format = puretone::format(c.rate, c.format, c.level_kind, c.level, c.channels);
        const puretone_test::oracle_tone tone{static_cast<double>(c.rate), c.frequency,
                                              static_cast<oracle_format>(c.format), c.level_kind, c.level};
        const double peak = puretone_test::oracle_peak(tone);
        const std::size_t width = c.format == PURETONE_FORMAT_S16 ? 2 : 4;
        std::vector<unsigned char> buffer(frames * c.channels * width);
        ASSERT_EQ(puretone_frames(&format, c.frequency, c.start, frames, buffer.data()), PURETONE_OK)
            << c.rate << " " << c.frequency;
        for (std::size_t k = 0; k < frames; ++k) {
            const auto index = static_cast<std::int32_t>(c.start + static_cast<std::int64_t>(k));
            const double first = puretone_test::sample_value(buffer, c.format, k * c.channels);
            if (k % 3 == 0 || c.format == PURETONE_FORMAT_F32) {
                const double expected = puretone_test::oracle_sample(index, tone, peak);
                ASSERT_TRUE(first == expected && (c.format != PURETONE_FORMAT_F32 || std::signbit(first) == std::signbit(expected)))
                    << c.rate << " Hz rate, " << c.frequency << " Hz, format " << c.format << ", frame " << index
                    << ": " << first << " not " << expected;
            }
            for (std::size_t channel = 1; channel < c.channels; ++channel)
                ASSERT_EQ(std::bit_cast<std::uint64_t>(puretone_test::sample_value(buffer, c.format, k * c.channels + channel)),
                          std::bit_cast<std::uint64_t>(first));
        }
    }
}

// A frame's bytes: in memory, what puretone_frames fills (checked by the
// last byte it writes), and in the file, the header's block align.
TEST(api, frame_bytes_match_what_frames_and_the_header_write)
{
    for (const int sample_format : {PURETONE_FORMAT_S16, PURETONE_FORMAT_S24, PURETONE_FORMAT_S32, PURETONE_FORMAT_F32})
        for (const std::uint32_t channels : {1u, 2u, 3u, 8u}) {
            puretone_format format = PURETONE_FORMAT_INIT;
            format.sample_format = sample_format;
            format.channels = channels;
            const int memory = puretone_frame_bytes(&format), file = puretone_file_frame_bytes(&format);
            std::vector<unsigned char> frames(2 * 32 + 1, 0xA5);
            ASSERT_EQ(puretone_frames(&format, 11025.0, 1, 2, frames.data()), PURETONE_OK);  // sin = 1: no zero byte
            EXPECT_NE(frames[static_cast<std::size_t>(2 * memory - 1)], 0xA5) << sample_format << ", " << channels;
            EXPECT_EQ(frames[static_cast<std::size_t>(2 * memory)], 0xA5) << sample_format << ", " << channels;
            unsigned char header[PURETONE_HEADER_MAX];
            ASSERT_EQ(puretone_header(&format, 1, header), PURETONE_OK);
            EXPECT_EQ(file, header[32] | header[33] << 8) << sample_format << ", " << channels;
        }
    EXPECT_EQ(puretone_frame_bytes(nullptr), PURETONE_ERROR_DESCRIPTION);
    EXPECT_EQ(puretone_file_frame_bytes(nullptr), PURETONE_ERROR_DESCRIPTION);
}

TEST(api, bad_input_gives_a_code_and_a_message_and_writes_nothing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const struct {
        double frequency;
        std::int64_t start, count;
        bool null_buffer;
        int code;
    } cases[] = {
        {nan, 0, 4, false, PURETONE_ERROR_FREQUENCY},
        {inf, 0, 4, false, PURETONE_ERROR_FREQUENCY},
        {-inf, 0, 4, false, PURETONE_ERROR_FREQUENCY},
        {std::nextafter(2147483648.0, inf), 0, 4, false, PURETONE_ERROR_FREQUENCY},
        {-2147483649.0, 0, 4, false, PURETONE_ERROR_FREQUENCY},
        {440, -1, 4, false, PURETONE_ERROR_START},
        {440, 0, -1, false, PURETONE_ERROR_COUNT},
        {440, index_end - 3, 4, false, PURETONE_ERROR_WINDOW},
        {440, INT64_MAX, 4, false, PURETONE_ERROR_WINDOW},
        {440, 4, INT64_MAX, false, PURETONE_ERROR_WINDOW},
        {440, 0, 4, true, PURETONE_ERROR_NULL},
        {440, index_end - 4, 4, false, PURETONE_OK},  // the last samples there are
        {440, index_end, 0, true, PURETONE_OK},       // nothing, at the end
    };
    for (const auto& c : cases) {
        std::int16_t buffer[4] = {111, 111, 111, 111};
        EXPECT_EQ(puretone_samples(c.frequency, c.start, c.count, c.null_buffer ? nullptr : buffer), c.code)
            << c.frequency << " " << c.start << " " << c.count;
        if (c.code != PURETONE_OK) {
            EXPECT_TRUE(buffer[0] == 111 && buffer[3] == 111);
        }
        const std::string message = puretone_strerror(c.code);
        EXPECT_TRUE(!message.empty() && message.find('\n') == std::string::npos);
    }
    unsigned char header[44];
    std::memset(header, 7, sizeof header);
    EXPECT_EQ(puretone_wav_header(-1, header), PURETONE_ERROR_SAMPLE_COUNT);
    EXPECT_EQ(puretone_wav_header(2147483630, header), PURETONE_ERROR_SAMPLE_COUNT);
    EXPECT_EQ(puretone_wav_header(0, nullptr), PURETONE_ERROR_NULL);
    EXPECT_EQ(header[0], 7);
    EXPECT_EQ(puretone_wav_header(2147483629, header), PURETONE_OK);  // RIFF size 0xFFFFFFFF - 1
    EXPECT_EQ(std::memcmp(header + 4, "\xfe\xff\xff\xff", 4), 0);
    EXPECT_STREQ(puretone_strerror(12345), "unknown puretone error code");

    // Formats: every field out of range, each with its own code, in the
    // order of the checks; frames at the edge of the angle domain.
    const puretone_format good = PURETONE_FORMAT_INIT;
    const auto with = [&good](auto change) {
        puretone_format format = good;
        change(format);
        return format;
    };
    const struct {
        puretone_format format;
        double frequency;
        std::int64_t start, count;
        int code;
    } format_cases[] = {
        {with([](puretone_format& f) { f.size = 8; }), 440, 0, 4, PURETONE_ERROR_DESCRIPTION},
        {with([](puretone_format& f) { f.reserved = 1; }), 440, 0, 4, PURETONE_ERROR_DESCRIPTION},
        {with([](puretone_format& f) { f.rate = 0; }), 440, 0, 4, PURETONE_ERROR_RATE},
        {with([](puretone_format& f) { f.rate = 768001; }), 440, 0, 4, PURETONE_ERROR_RATE},
        {with([](puretone_format& f) { f.sample_format = 4; }), 440, 0, 4, PURETONE_ERROR_FORMAT},
        {with([](puretone_format& f) { f.sample_format = -1; }), 440, 0, 4, PURETONE_ERROR_FORMAT},
        {with([](puretone_format& f) { f.level_kind = 3; }), 440, 0, 4, PURETONE_ERROR_LEVEL},
        {with([](puretone_format& f) { f.level_kind = PURETONE_LEVEL_RATIO, f.level = 1.0000001; }), 440, 0, 4,
         PURETONE_ERROR_LEVEL},
        {with([](puretone_format& f) { f.level_kind = PURETONE_LEVEL_RATIO, f.level = -0.1; }), 440, 0, 4,
         PURETONE_ERROR_LEVEL},
        {with([nan](puretone_format& f) { f.level_kind = PURETONE_LEVEL_RATIO, f.level = nan; }), 440, 0, 4,
         PURETONE_ERROR_LEVEL},
        {with([](puretone_format& f) { f.level_kind = PURETONE_LEVEL_DBFS, f.level = 0.5; }), 440, 0, 4,
         PURETONE_ERROR_LEVEL},
        {with([inf](puretone_format& f) { f.level_kind = PURETONE_LEVEL_DBFS, f.level = -inf; }), 440, 0, 4,
         PURETONE_ERROR_LEVEL},
        {with([](puretone_format& f) { f.channels = 0; }), 440, 0, 4, PURETONE_ERROR_CHANNELS},
        {with([](puretone_format& f) { f.channels = 9; }), 440, 0, 4, PURETONE_ERROR_CHANNELS},
        {with([](puretone_format& f) { f.rate = 0, f.channels = 0; }), 440, 0, 4, PURETONE_ERROR_RATE},  // in order
        {good, nan, 0, 4, PURETONE_ERROR_FREQUENCY},
        {good, 440, index_end - 3, 4, PURETONE_ERROR_WINDOW},
        // The last angle decides: 140057 * 1e9 * 2 pi = 8.80004e14 is out,
        // 140056 * 1e9 * 2 pi = 8.79998e14 is in; at 44100 Hz every window is in.
        {with([](puretone_format& f) { f.rate = 1; }), 1e9, 140056, 2, PURETONE_ERROR_ANGLE},
        {with([](puretone_format& f) { f.rate = 1; }), 1e9, 140055, 2, PURETONE_OK},
        {with([](puretone_format& f) { f.rate = 1; }), -2147483648.0, index_end - 4, 4, PURETONE_ERROR_ANGLE},
        {with([](puretone_format& f) { f.rate = 44099; }), -2147483648.0, index_end - 4, 4, PURETONE_OK},
        {good, -2147483648.0, index_end - 4, 4, PURETONE_OK},
        {with([](puretone_format& f) { f.rate = 1; }), 1e9, 140057, 0, PURETONE_OK},  // no frame, no angle
    };
    for (const auto& c : format_cases) {
        std::int16_t buffer[4] = {111, 111, 111, 111};
        EXPECT_EQ(puretone_frames(&c.format, c.frequency, c.start, c.count, buffer), c.code)
            << c.format.rate << " " << c.frequency << " " << c.start;
        if (c.code != PURETONE_OK) {
            EXPECT_TRUE(buffer[0] == 111 && buffer[3] == 111);
        }
        const std::string message = puretone_strerror(c.code);
        EXPECT_TRUE(!message.empty() && message.find('\n') == std::string::npos && message != "unknown puretone error code");
        if (c.code != PURETONE_ERROR_FREQUENCY && c.code != PURETONE_ERROR_WINDOW && c.code != PURETONE_ERROR_ANGLE
            && c.code != PURETONE_OK) {
            EXPECT_EQ(puretone_header_length(&c.format), c.code);
            EXPECT_EQ(puretone_longest_frames(&c.format), c.code);
        }
    }
    EXPECT_EQ(puretone_frames(nullptr, 440, 0, 4, nullptr), PURETONE_ERROR_DESCRIPTION);
    // A later, larger description reads where what this library does not
    // know is zero, and is refused where it is not.
    struct {
        puretone_format format;
        std::uint64_t later;
    } larger{good, 0};
    larger.format.size = sizeof larger;
    EXPECT_EQ(puretone_header_length(&larger.format), 44);
    larger.later = 1;
    EXPECT_EQ(puretone_header_length(&larger.format), PURETONE_ERROR_DESCRIPTION);
    // Headers: frame counts up to the last whose RIFF size fits, and the
    // same limit as puretone_wav_header's at the default format.
    EXPECT_EQ(puretone_longest_frames(&good), 2147483629);
    unsigned char bytes[PURETONE_HEADER_MAX];
    const puretone_format wide = with([](puretone_format& f) { f.sample_format = PURETONE_FORMAT_S24, f.channels = 3; });
    const std::int64_t longest = puretone_longest_frames(&wide);
    EXPECT_EQ(longest, (0xFFFFFFFFLL - 60 - 1) / 9);  // odd: its pad byte fits too
    EXPECT_EQ(puretone_header(&wide, longest, bytes), PURETONE_OK);
    EXPECT_EQ(puretone_header(&wide, longest + 1, bytes), PURETONE_ERROR_FRAME_COUNT);
    EXPECT_EQ(puretone_header(&wide, -1, bytes), PURETONE_ERROR_FRAME_COUNT);
    EXPECT_EQ(puretone_header(&wide, 0, nullptr), PURETONE_ERROR_NULL);
}

TEST(api, cpp_wrapper_throws_the_library_message)
{
    EXPECT_EQ(puretone::samples(11025, 0, 4), (std::vector<std::int16_t>{0, 32767, 0, -32767}));
    EXPECT_THROW(puretone::samples(std::nan(""), 0, 4), std::invalid_argument);
    EXPECT_THROW(puretone::samples(440, -1, 4), std::out_of_range);
    EXPECT_THROW(puretone::samples(440, 0, INT64_MAX), std::out_of_range);  // never allocated
    try {
        puretone::wav_header(-5);
        ADD_FAILURE();
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), puretone_strerror(PURETONE_ERROR_SAMPLE_COUNT));
    }
    // Frames and headers of any format; a buffer of the wrong type is refused.
    const puretone_format stereo = puretone::format(48000, PURETONE_FORMAT_F32, PURETONE_LEVEL_RATIO, 0.5, 2);
    std::vector<float> both(8);
    puretone::frames(stereo, 12000, 0, std::span(both));
    // sin(RN(pi)) = 1.22e-16: kept in float, not flushed to 0.
    EXPECT_EQ(both, (std::vector<float>{0.0f, 0.0f, 0.5f, 0.5f, 6.123234e-17f, 6.123234e-17f, -0.5f, -0.5f}));
    std::vector<std::int32_t> wrong(8);
    EXPECT_THROW(puretone::frames(stereo, 12000, 0, std::span(wrong)), std::invalid_argument);
    EXPECT_THROW(puretone::frames(puretone::format(0), 440, 0, std::span(wrong)), std::invalid_argument);
    // Signals: a tone per channel; a channel summing above 1 is refused.
    const puretone_tone per_channel[] = {{12000, 1, 0, PURETONE_LEVEL_RATIO, 1}, {12000, -1, 0, PURETONE_LEVEL_RATIO, 2}};
    puretone_signal signal = PURETONE_SIGNAL_INIT;
    signal.tones = per_channel;
    signal.tone_count = 2;
    puretone::signal_frames(stereo, signal, 1, std::span(both).first(2));
    EXPECT_EQ(both[0], 0.5f);
    EXPECT_EQ(both[1], -0.5f);
    const puretone_tone twice[] = {per_channel[1], {12000, -1, 0, PURETONE_LEVEL_RATIO, 0}};
    signal.tones = twice;
    EXPECT_THROW(puretone::signal_frames(stereo, signal, 0, std::span(both)), std::invalid_argument);
    EXPECT_EQ(puretone::header(stereo, 10).size(), 58u);
    EXPECT_THROW(puretone::header(stereo, -1), std::out_of_range);
    EXPECT_EQ(std::to_string(PURETONE_VERSION_MAJOR) + "." + std::to_string(PURETONE_VERSION_MINOR) + "."
                  + std::to_string(PURETONE_VERSION_PATCH),
              puretone::version());
}

}  // namespace
