// The reference for the sample tests, computed in MPFR independently of the
// code under test; every path must match it bit for bit.
#pragma once

#include <mpfr.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace puretone_test {

constexpr std::int32_t longest_sample_count = 2147449500;  // 48695 seconds

struct oracle_result {
    double angle;
    double sine;  // sin(angle) correctly rounded to double
    std::int32_t sample;
};

// The sample computed from scratch in MPFR: every operation at 53 bits, round
// to nearest, which is what IEEE double arithmetic does with no fused
// operations; pi is MPFR's own, rounded to 53 bits.
inline oracle_result oracle(std::int32_t index, double frequency)
{
    mpfr_t t, pi;
    mpfr_inits2(53, t, pi, static_cast<mpfr_ptr>(nullptr));
    mpfr_const_pi(pi, MPFR_RNDN);
    mpfr_set_si(t, index, MPFR_RNDN);
    mpfr_div_ui(t, t, 44100, MPFR_RNDN);
    mpfr_mul_d(t, t, frequency, MPFR_RNDN);
    mpfr_mul_2ui(t, t, 1, MPFR_RNDN);
    mpfr_mul(t, t, pi, MPFR_RNDN);
    oracle_result result{mpfr_get_d(t, MPFR_RNDN), 0, 0};
    mpfr_sin(t, t, MPFR_RNDN);
    result.sine = mpfr_get_d(t, MPFR_RNDN);
    mpfr_mul_ui(t, t, 32767, MPFR_RNDN);
    result.sample = static_cast<std::int32_t>(mpfr_get_si(t, MPFR_RNDZ));
    mpfr_clears(t, pi, static_cast<mpfr_ptr>(nullptr));
    return result;
}

// Any rate, format and level. The peak P, from MPFR at 2000 bits, far more
// than any level needs to round right; the sample as the formula of
// puretone.h says, each step in MPFR at 53 bits (24 for RN32).
enum class oracle_format { s16, s24, s32, f32 };

struct oracle_tone {
    double rate;
    double frequency;
    oracle_format format;
    int level_kind;  // 0 full, 1 ratio, 2 dBFS
    double level;
};

inline double oracle_peak(const oracle_tone& tone)
{
    const double full = tone.format == oracle_format::s16   ? 32767.0
                        : tone.format == oracle_format::s24 ? 8388607.0
                        : tone.format == oracle_format::s32 ? 2147483647.0
                                                            : 1.0;
    if (tone.level_kind == 0)
        return full;
    mpfr_t x;
    mpfr_init2(x, 2000);
    mpfr_set_d(x, tone.level, MPFR_RNDN);
    if (tone.level_kind == 2) {
        mpfr_div_ui(x, x, 20, MPFR_RNDN);
        mpfr_exp10(x, x, MPFR_RNDN);
    }
    mpfr_mul_d(x, x, full, MPFR_RNDN);
    if (tone.format != oracle_format::f32)
        mpfr_round(x, x);  // ties away from zero
    const double peak = mpfr_get_d(x, MPFR_RNDN);
    mpfr_clear(x);
    return peak;
}

// Sample `index` of the tone, as a double: the integer, or the float's value
// (signed zeros kept).
inline double oracle_sample(std::int32_t index, const oracle_tone& tone, double peak)
{
    mpfr_t t, pi;
    mpfr_inits2(53, t, pi, static_cast<mpfr_ptr>(nullptr));
    mpfr_const_pi(pi, MPFR_RNDN);
    mpfr_set_si(t, index, MPFR_RNDN);
    mpfr_div_d(t, t, tone.rate, MPFR_RNDN);
    mpfr_mul_d(t, t, tone.frequency, MPFR_RNDN);
    mpfr_mul_2ui(t, t, 1, MPFR_RNDN);
    mpfr_mul(t, t, pi, MPFR_RNDN);
    mpfr_sin(t, t, MPFR_RNDN);
    mpfr_mul_d(t, t, peak, MPFR_RNDN);
    double sample;
    if (tone.format == oracle_format::f32) {
        sample = mpfr_get_flt(t, MPFR_RNDN);
    } else {
        mpfr_trunc(t, t);
        sample = mpfr_get_d(t, MPFR_RNDN);
    }
    mpfr_clears(t, pi, static_cast<mpfr_ptr>(nullptr));
    return sample;
}

// A signal's sample (the formula of puretone_signal in puretone.h), each
// step in MPFR at 53 bits, as for a tone. A tone's amplitude is a ratio, or
// RN(10^(d/20)) from 2000 bits for `decibels`.
struct oracle_signal_tone {
    double frequency, level, phase;
    bool decibels;
    std::uint32_t channels;  // mask; 0 every channel
};

inline double oracle_amplitude(const oracle_signal_tone& tone)
{
    if (!tone.decibels)
        return tone.level == 0 ? 0.0 : tone.level;  // -0 is +0
    return oracle_peak({1, 0, oracle_format::f32, 2, tone.level});
}

// RN(sin(t)) into `out` (53 bits), t from `angle` (53 bits).
inline void oracle_rounded_sine(mpfr_t out, const mpfr_t angle)
{
    mpfr_sin(out, angle, MPFR_RNDN);
}

// The fade's gain at position i of n: RN(u u), u = RN(sin(RN(RN(RN(i / n) * 0.5) * pi))).
inline void oracle_gain(mpfr_t gain, std::int64_t position, std::int64_t frames, const mpfr_t pi)
{
    mpfr_set_d(gain, static_cast<double>(position), MPFR_RNDN);
    mpfr_div_d(gain, gain, static_cast<double>(frames), MPFR_RNDN);
    mpfr_mul_d(gain, gain, 0.5, MPFR_RNDN);
    mpfr_mul(gain, gain, pi, MPFR_RNDN);
    oracle_rounded_sine(gain, gain);
    mpfr_sqr(gain, gain, MPFR_RNDN);
}

struct oracle_signal {
    double rate;
    oracle_format format;
    double peak;
    const oracle_signal_tone* tones;
    std::size_t tone_count;
    std::int64_t length, fade_in, fade_out;
};

inline double oracle_signal_sample(std::int64_t index, std::uint32_t channel, const oracle_signal& signal)
{
    mpfr_t t, y, pi, gain;
    mpfr_inits2(53, t, y, pi, gain, static_cast<mpfr_ptr>(nullptr));
    mpfr_const_pi(pi, MPFR_RNDN);
    mpfr_set_zero(y, 1);
    bool started = false;
    for (std::size_t k = 0; k < signal.tone_count; ++k) {
        const oracle_signal_tone& tone = signal.tones[k];
        if (tone.channels != 0 && (tone.channels >> channel & 1) == 0)
            continue;
        mpfr_set_d(t, static_cast<double>(index), MPFR_RNDN);
        mpfr_div_d(t, t, signal.rate, MPFR_RNDN);
        mpfr_mul_d(t, t, tone.frequency, MPFR_RNDN);
        if (tone.phase != 0)
            mpfr_add_d(t, t, tone.phase, MPFR_RNDN);
        mpfr_mul_2ui(t, t, 1, MPFR_RNDN);
        mpfr_mul(t, t, pi, MPFR_RNDN);
        oracle_rounded_sine(t, t);
        mpfr_mul_d(t, t, oracle_amplitude(tone), MPFR_RNDN);
        if (started)
            mpfr_add(y, y, t, MPFR_RNDN);
        else
            mpfr_set(y, t, MPFR_RNDN);
        started = true;
    }
    if (index < signal.fade_in) {
        oracle_gain(gain, index, signal.fade_in, pi);
        mpfr_mul(y, gain, y, MPFR_RNDN);
    }
    if (signal.fade_out > 0 && signal.length - 1 - index < signal.fade_out) {
        oracle_gain(gain, signal.length - 1 - index, signal.fade_out, pi);
        mpfr_mul(y, gain, y, MPFR_RNDN);
    }
    mpfr_mul_d(y, y, signal.peak, MPFR_RNDN);
    double sample;
    if (signal.format == oracle_format::f32) {
        sample = mpfr_get_flt(y, MPFR_RNDN);
    } else {
        mpfr_trunc(y, y);
        sample = mpfr_get_d(y, MPFR_RNDN);
    }
    mpfr_clears(t, y, pi, gain, static_cast<mpfr_ptr>(nullptr));
    return sample;
}

// Frequencies that, over the tests' index runs, reach every kind of angle:
// small and up to about 6.6e14, peak-heavy (odd divisors of 11025), silent,
// aliased, negative.
inline const double oracle_frequencies[] = {
    440, 1000, 11025, -11025, 3675, 441, 1, 0, -440, 22050, 44100,
    12345, 96000, 1000003, 65536000, 2147483647, -2147483647, -2147483648.0,
};

}  // namespace puretone_test
