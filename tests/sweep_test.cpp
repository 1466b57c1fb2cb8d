// Sweeps: every kind, format and fade, near and far windows, bit for bit
// the MPFR oracle's, through the public call and with the first test forced
// open; the inverse filter the same; a synchronized length as the oracle
// rounds it; the double-double exp, expm1 and log within their bounds;
// refusals with their codes.
#include <puretone/puretone.h>

#include "lib/double_double_exp.hpp"
#include "lib/signal_stream.hpp"
#include "buffer_values.hpp"
#include "mpfr_oracle.hpp"
#include "sweep_oracle.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr bool emulated = PURETONE_EMULATED;

struct sweep_case {
    const char* name;
    int kind;
    double f1, f2;
    std::uint32_t rate;
    std::int64_t length;  // asked for
    int format;
    std::uint32_t channels;
    std::int64_t fade_in, fade_out, start, count;
};

const sweep_case cases[] = {
    {"exp 20-20k 1 s", PURETONE_SWEEP_EXPONENTIAL, 20, 20000, 48000, 48000, PURETONE_FORMAT_S16, 1, 0, 0, 0, 3000},
    {"exp 20-20k 1 s, its end", PURETONE_SWEEP_EXPONENTIAL, 20, 20000, 48000, 48000, PURETONE_FORMAT_S16, 1, 0, 0,
     45000, 3000},
    {"exp 20-20k 10 s f32, far", PURETONE_SWEEP_EXPONENTIAL, 20, 20000, 48000, 480000, PURETONE_FORMAT_F32, 1, 0, 0,
     477000, 3000},
    {"exp 22-22k 44.1k s24 faded", PURETONE_SWEEP_EXPONENTIAL, 22, 22000, 44100, 44100, PURETONE_FORMAT_S24, 2, 441,
     882, 43000, 1100},
    {"exp 22-22k 44.1k s24 fade-in", PURETONE_SWEEP_EXPONENTIAL, 22, 22000, 44100, 44100, PURETONE_FORMAT_S24, 1, 441,
     882, 0, 600},
    {"sync 20-20k 5 s s32", PURETONE_SWEEP_SYNCHRONIZED, 20, 20000, 48000, 240000, PURETONE_FORMAT_S32, 2, 0, 0,
     200000, 2000},
    {"sync 1-24k 100 s f32", PURETONE_SWEEP_SYNCHRONIZED, 1, 24000, 48000, 4800000, PURETONE_FORMAT_F32, 1, 960,
     960, 0, 2000},
    {"linear down 20k-20 f32", PURETONE_SWEEP_LINEAR, 20000, 20, 48000, 48000, PURETONE_FORMAT_F32, 1, 0, 0, 20000,
     3000},
    {"linear through 0 Hz, on half cycles", PURETONE_SWEEP_LINEAR, -12000, 12000, 48000, 4800, PURETONE_FORMAT_F32, 1,
     0, 0, 0, 4800},
    {"linear down s32, |f| falling", PURETONE_SWEEP_LINEAR, 20000, 20, 48000, 480000, PURETONE_FORMAT_S32, 1, 0, 0,
     8192, 1024},
    {"linear to 0 Hz f32, its end", PURETONE_SWEEP_LINEAR, 24000, 0, 48000, 480000, PURETONE_FORMAT_F32, 1, 0, 0,
     477000, 3000},
    {"f1 next to f2", PURETONE_SWEEP_EXPONENTIAL, 1000, 0x1.f400000000001p9, 48000, 48000, PURETONE_FORMAT_S16, 1, 0,
     0, 40000, 2000},
    {"2^31 frames, the last", PURETONE_SWEEP_EXPONENTIAL, 20, 20000, 48000, std::int64_t{1} << 31,
     PURETONE_FORMAT_F32, 1, 0, 4800, (std::int64_t{1} << 31) - 2500, 2500},
    {"linear 2^31 frames, far", PURETONE_SWEEP_LINEAR, 20, 24000, 48000, std::int64_t{1} << 31, PURETONE_FORMAT_S16,
     1, 0, 0, 2000000000, 2000},
};

puretone_signal description(const sweep_case& c)
{
    puretone_signal signal = PURETONE_SIGNAL_INIT;
    signal.length = c.length;
    signal.fade_in = c.fade_in;
    signal.fade_out = c.fade_out;
    signal.sweep = c.kind;
    signal.sweep_from = c.f1;
    signal.sweep_to = c.f2;
    return signal;
}

puretone_format format_of(const sweep_case& c)
{
    puretone_format format = PURETONE_FORMAT_INIT;
    format.rate = c.rate;
    format.sample_format = c.format;
    format.channels = c.channels;
    return format;
}

// The sweep's terms as the oracle makes them, with the synchronized length.
puretone::sweep_terms oracle_terms(const sweep_case& c)
{
    puretone::sweep_terms terms{static_cast<puretone::sweep_kind>(c.kind - 1), c.f1, c.f2, c.rate, c.length, 0};
    if (c.kind == PURETONE_SWEEP_SYNCHRONIZED)
        puretone_test::oracle_synchronized_length(c.f1, c.f2, c.rate, c.length, terms.whole_cycles, terms.frames);
    return terms;
}

// The fades' gains at frame i, each 1 where its fade does not reach.
std::pair<double, double> oracle_gains(const sweep_case& c, std::int64_t length, std::int64_t i)
{
    mpfr_t gain, pi;
    mpfr_inits2(53, gain, pi, static_cast<mpfr_ptr>(nullptr));
    mpfr_const_pi(pi, MPFR_RNDN);
    std::pair<double, double> gains{1.0, 1.0};
    if (i < c.fade_in) {
        puretone_test::oracle_gain(gain, i, c.fade_in, pi);
        gains.first = mpfr_get_d(gain, MPFR_RNDN);
    }
    if (c.fade_out > 0 && length - 1 - i < c.fade_out) {
        puretone_test::oracle_gain(gain, length - 1 - i, c.fade_out, pi);
        gains.second = mpfr_get_d(gain, MPFR_RNDN);
    }
    mpfr_clears(gain, pi, static_cast<mpfr_ptr>(nullptr));
    return gains;
}

// The sample: y = RN(sin phi), times each gain (RN), then the format's
// rounding at full level.
double oracle_sample(const sweep_case& c, const puretone::sweep_terms& terms, std::int64_t i)
{
    double y = puretone_test::oracle_sweep_sine(terms, i);
    const auto [in, out] = oracle_gains(c, terms.frames, i);
    if (in != 1.0)
        y = in * y;
    if (out != 1.0)
        y = out * y;
    switch (c.format) {
    case PURETONE_FORMAT_F32: return static_cast<float>(y);
    case PURETONE_FORMAT_S16: return std::trunc(32767 * y);
    case PURETONE_FORMAT_S24: return std::trunc(8388607 * y);
    default: return std::trunc(2147483647 * y);
    }
}

template <class Sample>
bool forced_frames(const puretone_format& described, const puretone_signal& signal, std::int64_t start,
                   std::int64_t count, std::vector<unsigned char>& bytes)
{
    puretone::tone_format format{};
    puretone::signal_shape shape{};
    if (puretone::read_format(&described, format) != PURETONE_OK || puretone::read_signal(&signal, format, shape) != PURETONE_OK)
        return false;
    return puretone::signal_frames(start, count, shape, format, reinterpret_cast<Sample*>(bytes.data()), {0x1p-20});
}

TEST(sweep, every_case_matches_the_oracle_bit_for_bit_and_so_does_the_exact_path)
{
    for (const sweep_case& c : cases) {
        const std::int64_t count = emulated ? std::min<std::int64_t>(c.count, 200) : c.count;
        const puretone_format format = format_of(c);
        const puretone_signal signal = description(c);
        const puretone::sweep_terms terms = oracle_terms(c);
        ASSERT_EQ(puretone_signal_length(&format, &signal), terms.frames) << c.name;
        const std::size_t width = c.format == PURETONE_FORMAT_S16 ? 2 : 4;
        std::vector<unsigned char> buffer(static_cast<std::size_t>(count) * c.channels * width);
        ASSERT_EQ(puretone_signal_frames(&format, &signal, c.start, count, buffer.data()), PURETONE_OK) << c.name;
        for (std::int64_t k = 0; k < count; ++k) {
            const double expected = oracle_sample(c, terms, c.start + k);
            for (std::uint32_t channel = 0; channel < c.channels; ++channel) {
                const double got = puretone_test::sample_value(buffer, c.format, k * c.channels + channel);
                const bool same_zero = c.format != PURETONE_FORMAT_F32 || std::signbit(got) == std::signbit(expected);
                ASSERT_TRUE(got == expected && same_zero)
                    << c.name << ": frame " << c.start + k << " is " << got << ", not " << expected;
            }
        }
        std::vector<unsigned char> forced(buffer.size(), 0xA5);
        const bool settled = c.format == PURETONE_FORMAT_S16 ? forced_frames<std::int16_t>(format, signal, c.start, count, forced)
                             : c.format == PURETONE_FORMAT_F32
                                 ? forced_frames<float>(format, signal, c.start, count, forced)
                                 : forced_frames<std::int32_t>(format, signal, c.start, count, forced);
        ASSERT_TRUE(settled) << c.name;
        EXPECT_TRUE(forced == buffer) << c.name << ": the exact path differs";
    }
}

TEST(sweep, inverse_filter_matches_the_oracle_at_both_ends)
{
    for (const sweep_case& c : cases) {
        if (c.kind == PURETONE_SWEEP_LINEAR)
            continue;
        const puretone_format format = format_of(c);
        const puretone_signal signal = description(c);
        const puretone::sweep_terms terms = oracle_terms(c);
        const std::int64_t count = emulated ? 64 : 700;
        for (const std::int64_t start : {std::int64_t{0}, terms.frames - count}) {
            std::vector<float> got(static_cast<std::size_t>(count));
            ASSERT_EQ(puretone_inverse_frames(&format, &signal, start, count, got.data()), PURETONE_OK) << c.name;
            for (std::int64_t k = 0; k < count; ++k) {
                const std::int64_t j = start + k;
                const auto [in, out] = oracle_gains(c, terms.frames, terms.frames - 1 - j);
                const float expected = puretone_test::oracle_inverse_sample(terms, j, in, out);
                ASSERT_TRUE(got[k] == expected && std::signbit(got[k]) == std::signbit(expected))
                    << c.name << ": inverse frame " << j << " is " << got[k] << ", not " << expected;
            }
        }
    }
}

TEST(sweep, bad_sweeps_give_their_codes)
{
    struct refusal {
        const char* name;
        int kind;
        double f1, f2;
        std::int64_t length;
        std::uint32_t tones;
        int code;
    };
    const double nan = std::nan("");
    const refusal refusals[] = {
        {"unknown kind", 4, 20, 20000, 48000, 0, PURETONE_ERROR_SWEEP},
        {"f1 = 0", PURETONE_SWEEP_EXPONENTIAL, 0, 20000, 48000, 0, PURETONE_ERROR_SWEEP},
        {"f1 > f2", PURETONE_SWEEP_SYNCHRONIZED, 2000, 20, 48000, 0, PURETONE_ERROR_SWEEP},
        {"f1 = f2, linear", PURETONE_SWEEP_LINEAR, 20, 20, 48000, 0, PURETONE_ERROR_SWEEP},
        {"above half the rate", PURETONE_SWEEP_LINEAR, 20, 24000.5, 48000, 0, PURETONE_ERROR_SWEEP},
        {"below minus half the rate", PURETONE_SWEEP_LINEAR, -24001, 20, 48000, 0, PURETONE_ERROR_SWEEP},
        {"not a number", PURETONE_SWEEP_EXPONENTIAL, nan, 20000, 48000, 0, PURETONE_ERROR_SWEEP},
        {"f2 / f1 above 2^40", PURETONE_SWEEP_EXPONENTIAL, 0x1p-30, 20000, 48000, 0, PURETONE_ERROR_SWEEP},
        {"no length", PURETONE_SWEEP_EXPONENTIAL, 20, 20000, 0, 0, PURETONE_ERROR_SWEEP},
        {"tones beside it", PURETONE_SWEEP_EXPONENTIAL, 20, 20000, 48000, 1, PURETONE_ERROR_SWEEP},
        {"sync shorter than a cycle of f1", PURETONE_SWEEP_SYNCHRONIZED, 20, 20000, 100, 0, PURETONE_ERROR_SWEEP},
    };
    const puretone_tone tone{440, 1, 0, PURETONE_LEVEL_FULL, 0};
    for (const refusal& r : refusals) {
        puretone_format format = PURETONE_FORMAT_INIT;
        format.rate = 48000;
        puretone_signal signal = PURETONE_SIGNAL_INIT;
        signal.length = r.length;
        signal.sweep = r.kind;
        signal.sweep_from = r.f1;
        signal.sweep_to = r.f2;
        signal.tones = &tone;
        signal.tone_count = r.tones;
        std::int16_t out[4] = {7, 7, 7, 7};
        EXPECT_EQ(puretone_signal_frames(&format, &signal, 0, 4, out), r.code) << r.name;
        EXPECT_EQ(puretone_signal_length(&format, &signal), r.code) << r.name;
        EXPECT_EQ(out[0], 7) << r.name;
    }
    // The inverse of a linear sweep, or of no sweep.
    puretone_format format = PURETONE_FORMAT_INIT;
    puretone_signal signal = PURETONE_SIGNAL_INIT;
    signal.length = 100;
    signal.sweep = PURETONE_SWEEP_LINEAR;
    signal.sweep_from = 20;
    signal.sweep_to = 2000;
    float out[4];
    EXPECT_EQ(puretone_inverse_frames(&format, &signal, 0, 4, out), PURETONE_ERROR_SWEEP);
    signal.sweep = PURETONE_SWEEP_NONE;
    EXPECT_EQ(puretone_inverse_frames(&format, &signal, 0, 4, out), PURETONE_ERROR_SWEEP);
    // A caller built against 0.6 passes a record without the sweep's fields.
    signal.size = offsetof(puretone_signal, sweep);
    signal.tones = nullptr;
    std::int16_t silent[4];
    EXPECT_EQ(puretone_signal_frames(&format, &signal, 0, 4, silent), PURETONE_OK);
}

// The double-double exp, expm1 and ln(1 + z) against MPFR on random
// arguments of every size in their domains, and the table of 2^(j/64).
TEST(double_double_exp, estimates_lie_within_their_bounds)
{
    std::mt19937_64 random(31);
    mpfr_t y, reference, error;
    mpfr_inits2(300, y, reference, error, static_cast<mpfr_ptr>(nullptr));
    const auto relative_error = [&](puretone::double_double value) {
        mpfr_set_d(error, value.high, MPFR_RNDN);
        mpfr_add_d(error, error, value.low, MPFR_RNDN);
        mpfr_sub(error, error, reference, MPFR_RNDN);
        mpfr_div(error, error, reference, MPFR_RNDN);
        return std::fabs(mpfr_get_d(error, MPFR_RNDN));
    };
    for (int n = 0; n < (emulated ? 2000 : 50000); ++n) {
        const double high = std::ldexp(std::uniform_real_distribution<double>(-1, 1)(random),
                                       -static_cast<int>(random() % 40)) * (random() % 2 ? 32 : 1);
        const puretone::double_double x = puretone::two_sum(high, high * 0x1p-53 * std::uniform_real_distribution<double>(-1, 1)(random));
        mpfr_set_d(y, x.high, MPFR_RNDN);
        mpfr_add_d(y, y, x.low, MPFR_RNDN);
        mpfr_exp(reference, y, MPFR_RNDN);
        ASSERT_LE(relative_error(puretone::exp_estimate<false>(x)), puretone::exp_relative_bound) << x.high;
        ASSERT_LE(relative_error(puretone::exp_estimate<true>(x)), puretone::exp_relative_bound) << x.high;
        mpfr_expm1(reference, y, MPFR_RNDN);
        ASSERT_LE(relative_error(puretone::expm1_estimate<false>(x)), puretone::expm1_relative_bound) << x.high;
        const double z = std::ldexp(std::uniform_real_distribution<double>(0.5, 1)(random), static_cast<int>(random() % 92) - 52);
        mpfr_set_d(y, z, MPFR_RNDN);
        mpfr_log1p(reference, y, MPFR_RNDN);
        const puretone::logarithm log = puretone::log1p_estimate({z, 0}, puretone::two_sum(1.0, z));
        ASSERT_TRUE(log.settled) << z;
        ASSERT_LE(relative_error(log.value), puretone::log_relative_bound) << z;
    }
    for (int j = 0; j < 64; ++j) {
        mpfr_set_si(y, j, MPFR_RNDN);
        mpfr_div_ui(y, y, 64, MPFR_RNDN);
        mpfr_exp2(reference, y, MPFR_RNDN);
        const puretone::double_double entry = puretone::sixty_fourth_power_of_two(j);
        EXPECT_EQ(entry.high, mpfr_get_d(reference, MPFR_RNDN)) << j;
        EXPECT_LE(relative_error(entry), 0x1p-106) << j;
    }
    mpfr_clears(y, reference, error, static_cast<mpfr_ptr>(nullptr));
}

}  // namespace
