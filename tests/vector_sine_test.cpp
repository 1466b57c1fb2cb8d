// The reduction by whole turns and each vector sine this CPU can run keep
// within the bounds the rounding test assumes, measured against MPFR.
#include "lib/angle_reduction.hpp"
#include "lib/sine_stream.hpp"
#include "lib/vector_sine.hpp"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using puretone::vector_isa;

// |value - f(angle)|, with f(angle) computed in MPFR at 200 bits.
double error_of(double value, double angle, int (*f)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t))
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
std::vector<double> test_angles()
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

class vector_sine : public testing::TestWithParam<vector_isa> {};

// Sines alone and sines with cosines, of reduced angles, as the blocks use
// them; each within SLEEF's bound of the sine and cosine of the reduced
// angle, and within the rounding test's bound of those of the angle itself.
TEST_P(vector_sine, sine_and_cosine_within_the_bound)
{
    if (!puretone::cpu_supports(GetParam()))
        GTEST_SKIP() << "this CPU lacks the instruction set";
    std::vector<double> angles = test_angles(), reduced;
    while (angles.size() % puretone::vector_lanes_max != 0)
        angles.push_back(1.0);
    for (const double t : angles)
        reduced.push_back(puretone::reduce_angle(t).r);
    const std::size_t n = angles.size();
    std::vector<double> alone(n), sines(n), cosines(n);
    puretone::vector_estimates(GetParam(), reduced.data(), alone.data(), nullptr, n);
    puretone::vector_estimates(GetParam(), reduced.data(), sines.data(), cosines.data(), n);
    double worst = 0, worst_of_angle = 0;
    for (std::size_t k = 0; k < n; ++k) {
        worst = std::max({worst, error_of(alone[k], reduced[k], mpfr_sin), error_of(sines[k], reduced[k], mpfr_sin),
                          error_of(cosines[k], reduced[k], mpfr_cos)});
        worst_of_angle = std::max({worst_of_angle, error_of(sines[k], angles[k], mpfr_sin),
                                   error_of(cosines[k], angles[k], mpfr_cos)});
        ASSERT_LE(worst, puretone::sleef_error_bound) << "angle " << angles[k];
        ASSERT_LE(worst_of_angle, puretone::vector_error_bound) << "angle " << angles[k];
    }
    // SLEEF's own promise is 3.5 ulp.
    EXPECT_LE(worst, 3.5 * 0x1p-52);
}

#if defined(__x86_64__)
const char* const isa_names[] = {"sse2", "avx", "avx512f"};
INSTANTIATE_TEST_SUITE_P(isa, vector_sine, testing::Values(vector_isa::sse2, vector_isa::avx, vector_isa::avx512f),
                         [](const auto& info) { return std::string(isa_names[static_cast<int>(info.param)]); });
#elif defined(__aarch64__)
const char* const isa_names[] = {"advsimd", "sve"};
INSTANTIATE_TEST_SUITE_P(isa, vector_sine, testing::Values(vector_isa::advsimd, vector_isa::sve),
                         [](const auto& info) { return std::string(isa_names[static_cast<int>(info.param)]); });
#endif

TEST(vector_sine_dispatch, widest_is_supported_and_never_narrower_than_needed)
{
    const vector_isa widest = puretone::widest_vector_isa();
    EXPECT_TRUE(puretone::cpu_supports(widest));
    for (int isa = 0; isa <= static_cast<int>(widest) + 1; ++isa)
        if (puretone::cpu_supports(static_cast<vector_isa>(isa))) {
            EXPECT_GE(static_cast<int>(widest), isa);
        }
}

}  // namespace
