// The reference for the sweep tests, in MPFR and independent of the
// library: each value from its definition in sweep_terms.hpp, with MPFR's
// own pi, log and expm1, every operation correctly rounded at a working
// precision p; the value is taken once its rounding at p and at 2p agree
// (from 200 bits up), each computed from scratch.
#pragma once

#include "lib/sweep_terms.hpp"

#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace puretone_test {

// A whole number of up to 64 bits, exactly (long may be 32 bits).
inline void oracle_set_whole(mpfr_t x, std::int64_t k)
{
    const std::uint64_t magnitude = k < 0 ? 0 - static_cast<std::uint64_t>(k) : static_cast<std::uint64_t>(k);
    mpfr_set_ui(x, static_cast<unsigned long>(magnitude >> 32), MPFR_RNDN);
    mpfr_mul_2ui(x, x, 32, MPFR_RNDN);
    mpfr_add_ui(x, x, static_cast<unsigned long>(magnitude & 0xFFFFFFFFu), MPFR_RNDN);
    if (k < 0)
        mpfr_neg(x, x, MPFR_RNDN);
}

inline std::uint64_t oracle_get_whole(const mpfr_t x)  // 0 <= x < 2^64, whole
{
    mpfr_t high;
    mpfr_init2(high, mpfr_get_prec(x));
    mpfr_div_2ui(high, x, 32, MPFR_RNDN);
    mpfr_floor(high, high);
    const auto top = static_cast<std::uint64_t>(mpfr_get_ui(high, MPFR_RNDN));
    mpfr_mul_2ui(high, high, 32, MPFR_RNDN);
    mpfr_sub(high, x, high, MPFR_RNDN);
    const auto bottom = static_cast<std::uint64_t>(mpfr_get_ui(high, MPFR_RNDN));
    mpfr_clear(high);
    return top << 32 | bottom;
}

// lambda = ln(f2/f1) at the precision of `lambda`.
inline void oracle_lambda(mpfr_t lambda, double f1, double f2)
{
    mpfr_set_d(lambda, f2, MPFR_RNDN);
    mpfr_div_d(lambda, lambda, f1, MPFR_RNDN);
    mpfr_log(lambda, lambda, MPFR_RNDN);
}

// c(i) at the precision of c; true where c is exact and 2c whole (the
// linear kind's rational phase on a half cycle, or i = 0).
inline bool oracle_phase(mpfr_t c, const puretone::sweep_terms& s, std::int64_t i)
{
    const mpfr_prec_t p = mpfr_get_prec(c);
    mpfr_t a, b;
    if (s.kind == puretone::sweep_kind::linear) {
        // 2 N f1 i + (f2 - f1) i^2 exactly (1400 bits hold any), then / (2 N R).
        mpfr_inits2(1400, a, b, static_cast<mpfr_ptr>(nullptr));
        int inexact = 0;
        oracle_set_whole(a, 2 * s.frames * i);
        inexact |= mpfr_mul_d(a, a, s.f1, MPFR_RNDN);
        mpfr_set_d(b, s.f2, MPFR_RNDN);
        inexact |= mpfr_sub_d(b, b, s.f1, MPFR_RNDN);
        mpfr_mul_si(b, b, static_cast<long>(i), MPFR_RNDN);  // i < 2^31
        inexact |= mpfr_mul_si(b, b, static_cast<long>(i), MPFR_RNDN);
        inexact |= mpfr_add(a, a, b, MPFR_RNDN);
        oracle_set_whole(b, 2 * s.frames);
        inexact |= mpfr_mul_ui(b, b, s.rate, MPFR_RNDN);
        const int rounded = mpfr_div(c, a, b, MPFR_RNDN);
        mpfr_clears(a, b, static_cast<mpfr_ptr>(nullptr));
        if (inexact != 0)
            mpfr_set_nan(c);  // cannot happen: then the test fails
        if (rounded != 0)
            return false;
        mpfr_t twice;
        mpfr_init2(twice, p + 1);
        mpfr_mul_2ui(twice, c, 1, MPFR_RNDN);
        const bool whole = mpfr_integer_p(twice) != 0;
        mpfr_clear(twice);
        return whole;
    }
    mpfr_inits2(p + 32, a, b, static_cast<mpfr_ptr>(nullptr));
    if (s.kind == puretone::sweep_kind::exponential) {
        // (f1 N / (R lambda)) expm1(i lambda / N)
        oracle_lambda(b, s.f1, s.f2);
        mpfr_mul_si(a, b, static_cast<long>(i), MPFR_RNDN);
        oracle_set_whole(c, s.frames);
        mpfr_div(a, a, c, MPFR_RNDN);
        mpfr_expm1(a, a, MPFR_RNDN);
        mpfr_mul_d(a, a, s.f1, MPFR_RNDN);
        mpfr_mul(a, a, c, MPFR_RNDN);
        mpfr_div_ui(a, a, s.rate, MPFR_RNDN);
        mpfr_div(c, a, b, MPFR_RNDN);
    } else {
        // M expm1(i f1 / (R M))
        oracle_set_whole(b, s.whole_cycles);
        mpfr_set_si(a, static_cast<long>(i), MPFR_RNDN);
        mpfr_mul_d(a, a, s.f1, MPFR_RNDN);
        mpfr_div_ui(a, a, s.rate, MPFR_RNDN);
        mpfr_div(a, a, b, MPFR_RNDN);
        mpfr_expm1(a, a, MPFR_RNDN);
        mpfr_mul(c, a, b, MPFR_RNDN);
    }
    mpfr_clears(a, b, static_cast<mpfr_ptr>(nullptr));
    return i == 0;
}

// sin(2 pi c) at the precision of `sine`: whole cycles dropped first
// (exactly), so that the rounding of pi acts on the fraction only.
inline void oracle_cycle_sine(mpfr_t sine, const mpfr_t c)
{
    mpfr_t t, pi;
    mpfr_inits2(mpfr_get_prec(c) + 32, t, pi, static_cast<mpfr_ptr>(nullptr));
    mpfr_frac(t, c, MPFR_RNDN);  // exact: |frac| has no more bits than c
    mpfr_const_pi(pi, MPFR_RNDN);
    mpfr_mul(t, t, pi, MPFR_RNDN);
    mpfr_mul_2ui(t, t, 1, MPFR_RNDN);
    mpfr_sin(sine, t, MPFR_RNDN);
    mpfr_clears(t, pi, static_cast<mpfr_ptr>(nullptr));
}

template <typename Value>
bool oracle_same(Value a, Value b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// RN(sin(2 pi c(i))); +0 where the sine is exactly 0; NaN if 12800 bits
// leave it open.
inline double oracle_sweep_sine(const puretone::sweep_terms& s, std::int64_t i)
{
    double previous = NAN;
    for (mpfr_prec_t p = 200; p <= 12800; p *= 2) {
        mpfr_t c, sine;
        mpfr_inits2(p, c, sine, static_cast<mpfr_ptr>(nullptr));
        const bool zero = oracle_phase(c, s, i);
        oracle_cycle_sine(sine, c);
        const double value = zero ? 0.0 : mpfr_get_d(sine, MPFR_RNDN);
        mpfr_clears(c, sine, static_cast<mpfr_ptr>(nullptr));
        if (zero || oracle_same(value, previous))
            return value;
        previous = value;
    }
    return NAN;
}

// M = round(f1 T / lambda), T = asked / rate, ties away from zero; N =
// round(rate (M / f1) lambda), ties to even. M is capped at 2^63.
inline void oracle_synchronized_length(double f1, double f2, std::uint32_t rate, std::int64_t asked_frames,
                                       std::int64_t& whole_cycles, std::int64_t& frames)
{
    std::uint64_t previous[2] = {~std::uint64_t{0}, ~std::uint64_t{0}};
    for (mpfr_prec_t p = 200; p <= 12800; p *= 2) {
        mpfr_t lambda, m, n;
        mpfr_inits2(p, lambda, m, n, static_cast<mpfr_ptr>(nullptr));
        oracle_lambda(lambda, f1, f2);
        oracle_set_whole(m, asked_frames);
        mpfr_div_ui(m, m, rate, MPFR_RNDN);
        mpfr_mul_d(m, m, f1, MPFR_RNDN);
        mpfr_div(m, m, lambda, MPFR_RNDN);
        mpfr_round(m, m);
        if (mpfr_cmp_d(m, 0x1p63) > 0)
            mpfr_set_d(m, 0x1p63, MPFR_RNDN);
        mpfr_div_d(n, m, f1, MPFR_RNDN);
        mpfr_mul(n, n, lambda, MPFR_RNDN);
        mpfr_mul_ui(n, n, rate, MPFR_RNDN);
        mpfr_rint(n, n, MPFR_RNDN);
        if (mpfr_cmp_d(n, 0x1p63) > 0)
            mpfr_set_d(n, 0x1p63, MPFR_RNDN);
        const std::uint64_t found[2] = {oracle_get_whole(m), oracle_get_whole(n)};
        mpfr_clears(lambda, m, n, static_cast<mpfr_ptr>(nullptr));
        if (found[0] == previous[0] && found[1] == previous[1]) {
            whole_cycles = static_cast<std::int64_t>(found[0]);
            frames = static_cast<std::int64_t>(found[1]);
            return;
        }
        previous[0] = found[0];
        previous[1] = found[1];
    }
    whole_cycles = frames = -1;
}

// RN32 of K e^(-j/(R L)) sin(2 pi c(N-1-j)) gain gain_out, K = 4 f2 /
// (R^2 L), L = N / (R lambda) (exponential) or M / f1 (synchronized); +0
// where the product is exactly 0; NaN if 12800 bits leave it open.
inline float oracle_inverse_sample(const puretone::sweep_terms& s, std::int64_t j, double gain,
                                   double gain_out = 1.0)
{
    float previous = NAN;
    for (mpfr_prec_t p = 200; p <= 12800; p *= 2) {
        mpfr_t c, v, length, k, y;
        mpfr_inits2(p, c, v, length, k, y, static_cast<mpfr_ptr>(nullptr));
        const bool zero = oracle_phase(c, s, s.frames - 1 - j) || gain == 0 || gain_out == 0;
        oracle_cycle_sine(v, c);
        if (s.kind == puretone::sweep_kind::exponential) {
            oracle_lambda(y, s.f1, s.f2);
            oracle_set_whole(length, s.frames);
            mpfr_div_ui(length, length, s.rate, MPFR_RNDN);
            mpfr_div(length, length, y, MPFR_RNDN);
        } else {
            oracle_set_whole(length, s.whole_cycles);
            mpfr_div_d(length, length, s.f1, MPFR_RNDN);
        }
        mpfr_set_d(k, 4 * s.f2, MPFR_RNDN);
        mpfr_div_ui(k, k, s.rate, MPFR_RNDN);
        mpfr_div_ui(k, k, s.rate, MPFR_RNDN);
        mpfr_div(k, k, length, MPFR_RNDN);
        mpfr_set_si(y, static_cast<long>(j), MPFR_RNDN);
        mpfr_div_ui(y, y, s.rate, MPFR_RNDN);
        mpfr_div(y, y, length, MPFR_RNDN);
        mpfr_neg(y, y, MPFR_RNDN);
        mpfr_exp(y, y, MPFR_RNDN);
        mpfr_mul(v, v, k, MPFR_RNDN);
        mpfr_mul(v, v, y, MPFR_RNDN);
        mpfr_mul_d(v, v, gain, MPFR_RNDN);
        mpfr_mul_d(v, v, gain_out, MPFR_RNDN);
        const float value = zero ? 0.0f : mpfr_get_flt(v, MPFR_RNDN);
        mpfr_clears(c, v, length, k, y, static_cast<mpfr_ptr>(nullptr));
        if (zero || oracle_same(value, previous))
            return value;
        previous = value;
    }
    return NAN;
}

}  // namespace puretone_test
