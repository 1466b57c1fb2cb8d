// The reductions and the sine kernel keep within the bounds the rounding
// test takes for them, measured against MPFR: at the tones' own angles, and
// at the kernel's worst points, the ends of the polynomial's interval (the
// peaks, between two half turns), its middle (the zero crossings), the edge
// of the direct reduction's domain and the end of the whole domain.
#include "lib/angle_reduction.hpp"
#include "lib/sine_kernel.hpp"
#include "test_angles.hpp"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using puretone_test::error_of;
using puretone_test::test_angles;

TEST(reduce_angle, within_its_bound_of_the_exact_reduction)
{
    mpfr_t exact, two_pi;
    mpfr_inits2(300, exact, two_pi, static_cast<mpfr_ptr>(nullptr));
    mpfr_const_pi(two_pi, MPFR_RNDN);
    mpfr_mul_2ui(two_pi, two_pi, 1, MPFR_RNDN);
    double worst = 0;
    for (const double t : test_angles()) {
        ASSERT_LE(std::fabs(t), puretone::reduction_domain);
        const puretone::reduced_angle reduced = puretone::reduce_angle(t);
        // The fused and unfused products give the same bits.
        const puretone::reduced_angle fused = puretone::reduce_angle<true>(t);
        const puretone::reduced_angle split = puretone::reduce_angle<false>(t);
        ASSERT_TRUE(fused.r == split.r && fused.k == split.k && reduced.r == split.r) << t;
        ASSERT_EQ(reduced.k, std::nearbyint(reduced.k)) << t;
        ASSERT_LE(std::fabs(reduced.r), 3.4) << t;
        // t - 2 pi k, exactly, minus r.
        mpfr_mul_d(exact, two_pi, reduced.k, MPFR_RNDN);
        mpfr_d_sub(exact, t, exact, MPFR_RNDN);
        mpfr_sub_d(exact, exact, reduced.r, MPFR_RNDN);
        worst = std::max(worst, std::fabs(mpfr_get_d(exact, MPFR_RNDU)));
        ASSERT_LE(worst, puretone::reduction_error_bound) << "t " << t << ", k " << reduced.k;
    }
    mpfr_clears(exact, two_pi, static_cast<mpfr_ptr>(nullptr));
    EXPECT_GT(worst, 0x1p-60);  // the test reaches the rounding it bounds
}

// The worst points: a few doubles each side of (k + 1/2) pi and of k pi,
// for half turns k from 0 to the direct reduction's last, and of the
// domains' ends.
std::vector<double> kernel_angles()
{
    std::vector<double> angles;
    const std::vector<double> tones = test_angles();
    for (std::size_t k = 0; k < tones.size(); k += 4)  // a quarter of them: MPFR's sine twice each, eight ways
        angles.push_back(tones[k]);
    const double last_half_turn = std::floor(puretone::half_turn_domain / 3.141592653589793);
    for (const double k : {0.0, 1.0, 2.0, 3.0, 1000.0, 0x1p20, 0x1p30, last_half_turn - 1, last_half_turn})
        for (const double at : {(k + 0.5) * 3.141592653589793, k * 3.141592653589793, -(k + 0.5) * 3.141592653589793}) {
            double up = at, down = at;
            for (int step = 0; step < 4; ++step) {
                angles.push_back(up);
                angles.push_back(down);
                up = std::nextafter(up, INFINITY);
                down = std::nextafter(down, -INFINITY);
            }
        }
    for (const double edge : {puretone::half_turn_domain, puretone::reduction_domain})
        for (int step = -3; step <= 3; ++step)
            angles.push_back(edge + step * 0.25);
    return angles;
}

// |d| - asin|cos t|: the peak distance's error, in MPFR at 200 bits.
double peak_distance_error(double distance, double angle)
{
    mpfr_t x;
    mpfr_init2(x, 200);
    mpfr_set_d(x, angle, MPFR_RNDN);
    mpfr_cos(x, x, MPFR_RNDN);
    mpfr_abs(x, x, MPFR_RNDN);
    mpfr_asin(x, x, MPFR_RNDN);
    mpfr_sub_d(x, x, std::fabs(distance), MPFR_RNDN);
    const double error = std::fabs(mpfr_get_d(x, MPFR_RNDU));
    mpfr_clear(x);
    return error;
}

// Both forms of every step (fused and not), with the direct reduction where
// the angle allows it and with the reduction by whole turns first always.
template <bool fused, class Kernel>
double worst_error(const Kernel& kernel, const std::vector<double>& angles)
{
    double worst = 0;
    for (const double t : angles)
        for (const bool far : {false, true}) {
            if (!far && std::fabs(t) > puretone::half_turn_domain)
                continue;
            const puretone::half_turn_angle reduced = far ? puretone::kernel_reduction<fused, true>(t)
                                                          : puretone::kernel_reduction<fused, false>(t);
            EXPECT_LT(std::fabs(reduced.x), puretone::half_turn_reach) << t;
            const puretone::sine_and_peak estimate = puretone::kernel_estimate<fused>(kernel, reduced);
            const double error = error_of(estimate.sine, t, mpfr_sin);
            worst = std::max(worst, error);
            EXPECT_LE(error, kernel.total_bound) << "t " << t << (far ? ", by whole turns first" : "");
            EXPECT_LE(peak_distance_error(estimate.peak, t), puretone::half_turn_error_bound + 0x1p-52) << t;
        }
    return worst;
}

TEST(sine_kernel, within_its_bound_at_the_worst_points)
{
    const std::vector<double> angles = kernel_angles();
    for (const double worst : {worst_error<false>(puretone::coarse_kernel, angles),
                               worst_error<true>(puretone::coarse_kernel, angles)})
        EXPECT_GT(worst, puretone::coarse_kernel.approximation_bound / 2);  // near the polynomial's own error
    for (const double worst : {worst_error<false>(puretone::fine_kernel, angles),
                               worst_error<true>(puretone::fine_kernel, angles)})
        EXPECT_GT(worst, 0x1p-54);  // the reductions' and roundings' errors, reached
}

// The f32 estimates: the reduction's pair against t - k pi, and each
// estimate within its own bound, relative to it, where an absolute one
// would leave the zero crossings open (|sin t| ~ 1e-16 at RN(k pi)).
template <bool fused>
double worst_relative_error(const std::vector<double>& angles)
{
    mpfr_t exact, pi;
    mpfr_inits2(400, exact, pi, static_cast<mpfr_ptr>(nullptr));
    mpfr_const_pi(pi, MPFR_RNDN);
    const auto& kernel = puretone::float_kernel;
    double worst = 0;  // of the error over the bound
    for (const double t : angles) {
        if (std::fabs(t) > puretone::half_turn_domain)
            continue;
        const puretone::half_turn_pair pair = puretone::reduce_half_turns_precisely<fused>(t);
        // c + rl against t - k pi, k the reduction's own (near a half turn
        // either neighbour may be taken; its parity is in the sign).
        const double k = (t * puretone::inverse_pi + puretone::integer_rounder) - puretone::integer_rounder;
        EXPECT_EQ(std::signbit(pair.sign), std::fmod(k, 2.0) != 0) << t;
        mpfr_mul_d(exact, pi, k, MPFR_RNDN);
        mpfr_d_sub(exact, t, exact, MPFR_RNDN);
        mpfr_sub_d(exact, exact, pair.c, MPFR_RNDN);
        mpfr_sub_d(exact, exact, pair.rl, MPFR_RNDN);
        EXPECT_LE(std::fabs(mpfr_get_d(exact, MPFR_RNDU)), 0x1p-53 * std::fabs(pair.c) + 0x1p-120) << t;
        const double estimate = puretone::with_sign(
            puretone::relative_estimate<fused>(kernel, pair.c, pair.rl), pair.sign);  // the sign, after or before
        EXPECT_EQ(estimate, puretone::relative_estimate<fused>(kernel, puretone::with_sign(pair.c, pair.sign),
                                                               puretone::with_sign(pair.rl, pair.sign)));
        const double bound = puretone::bound_of(puretone::relative_bound(kernel, false), estimate);
        const double error = error_of(estimate, t, mpfr_sin);
        EXPECT_LE(error, bound) << "t " << t;
        worst = std::max(worst, error / bound);
    }
    mpfr_clears(exact, pi, static_cast<mpfr_ptr>(nullptr));
    return worst;
}

TEST(sine_kernel, float_estimates_within_their_relative_bounds)
{
    std::vector<double> angles = kernel_angles();
    for (const double tiny : {0x1p-1000, 0x1p-60, 1e-8})
        angles.push_back(tiny);
    for (const double worst : {worst_relative_error<false>(angles), worst_relative_error<true>(angles)})
        EXPECT_GT(worst, 1.0 / 16);  // the bound is not loose by orders of magnitude
}

}  // namespace
