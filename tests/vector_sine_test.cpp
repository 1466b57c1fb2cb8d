// Each vector sine this CPU can run keeps within the bounds the rounding
// test assumes, measured against MPFR.
#include "lib/angle_reduction.hpp"
#include "lib/vector_sine.hpp"
#include "test_angles.hpp"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using puretone::vector_isa;
using puretone_test::error_of;
using puretone_test::test_angles;

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
