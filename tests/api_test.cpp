// The public API as a user calls it: windows anywhere in any tone, bit for
// bit the MPFR oracle's; the same from a thread with the smallest stack,
// and whatever floating-point environment the caller set, which it gets
// back; bad input refused with a code and a message, the buffer untouched;
// the C++ wrapper's exceptions.
#include <puretone/puretone.h>
#include <puretone/puretone.hpp>

#include "mpfr_oracle.hpp"

#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
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
    EXPECT_EQ(std::to_string(PURETONE_VERSION_MAJOR) + "." + std::to_string(PURETONE_VERSION_MINOR) + "."
                  + std::to_string(PURETONE_VERSION_PATCH),
              puretone::version());
}

}  // namespace
