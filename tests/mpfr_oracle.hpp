// The reference for the sample tests, computed in MPFR independently of the
// code under test; every path must match it bit for bit.
#pragma once

#include <mpfr.h>

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

// Frequencies that, over the tests' index runs, reach every kind of angle:
// small and up to about 6.6e14, peak-heavy (odd divisors of 11025), silent,
// aliased, negative.
inline const double oracle_frequencies[] = {
    440, 1000, 11025, -11025, 3675, 441, 1, 0, -440, 22050, 44100,
    12345, 96000, 1000003, 65536000, 2147483647, -2147483647, -2147483648.0,
};

}  // namespace puretone_test
