// Angles to test the reductions and sine estimates at, and their errors
// measured against MPFR.
#pragma once

#include "lib/angle_reduction.hpp"
#include "lib/sine_stream.hpp"

#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace puretone_test {

// |value - f(angle)|, with f(angle) computed in MPFR at 200 bits.
inline double error_of(double value, double angle, int (*f)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t))
{
    mpfr_t x;
    mpfr_init2(x, 200);
    mpfr_set_d(x, angle, MPFR_RNDN);
    f(x, x, MPFR_RNDN);
    mpfr_sub_d(x, x, value, MPFR_RNDN);
    const double error = std::fabs(mpfr_get_d(x, MPFR_RNDU));
    mpfr_clear(x);
    return error;
}

// Angles of every size up to the reduction's domain: the tones' own, from
// the first samples to the last of the longest file, and the edges of each
// step of the proof (|t| < 4 with k = 1, k near 2^47, near half turns).
inline std::vector<double> test_angles()
{
    std::vector<double> angles = {0.0, -0.0, 0x1p-1000, 1e-8, 1.5707963267948966, 3.141592653589793,
                                  3.1415926535897927, 3.1415926535897936, 3.9999999999999996, 4.0,
                                  -4.0, 9.42477796076938, 1e14, 6.6e14, -6.6e14, puretone::reduction_domain,
                                  -puretone::reduction_domain, 0x1.fffffffffffffp48, 0x1p49};
    for (const double frequency : {440.0, 11025.0, 1000003.0, 2147483647.0, -2147483648.0})
        for (std::int32_t i = 0; i < 2000; ++i) {
            angles.push_back(puretone::sine_angle(i * 1073724, frequency));  // to the last sample
            angles.push_back(puretone::sine_angle(i, frequency));
            angles.push_back(puretone::sine_angle(2147449499 - i, frequency));
        }
    // Whole and half turns up to the domain's end, where k is 0.995 * 2^47.
    const double k_max = std::floor(puretone::reduction_domain / 6.283185307179586) - 1;
    for (double k = k_max - 2000; k <= k_max; k += 1) {
        angles.push_back(k * 6.283185307179586);
        angles.push_back((k + 0.5) * 6.283185307179586);
    }
    return angles;
}

}  // namespace puretone_test
