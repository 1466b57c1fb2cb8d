// Each vector sine this CPU can run keeps within the bound that the rounding
// test assumes, measured against MPFR, for the sine and the cosine alike.
#include "wav/sine_stream.hpp"
#include "wav/vector_sine.hpp"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using puretone::vector_isa;

// |estimate - f(angle)|, with f(angle) computed in MPFR at 200 bits.
double error_of(double estimate, double angle, int (*f)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t))
{
    mpfr_t x;
    mpfr_init2(x, 200);
    mpfr_set_d(x, angle, MPFR_RNDN);
    f(x, x, MPFR_RNDN);
    mpfr_sub_d(x, x, estimate, MPFR_RNDN);
    const double error = std::fabs(mpfr_get_d(x, MPFR_RNDU));
    mpfr_clear(x);
    return error;
}

// Sample angles of every size up to SLEEF's domain, with peaks and zeros.
std::vector<double> test_angles()
{
    std::vector<double> angles = {0.0, -0.0, 0x1p-1000, 1e-8, 1.5707963267948966, 3.141592653589793,
                                  14.999999999999998, 15.0, -1e14, 1e14, 99999999999999.98};
    for (const double frequency : {440.0, 11025.0, 1000003.0, 2147483647.0})
        for (std::int32_t i = 0; i < 2000; ++i) {
            const std::int32_t index = i * 163000;  // to 3.26e8: 2147483647 Hz nears 1e14
            angles.push_back(puretone::sine_angle(index, frequency));
            angles.push_back(puretone::sine_angle(i, frequency));
        }
    while (angles.size() % puretone::vector_lanes_max != 0)
        angles.push_back(1.0);
    return angles;
}

class vector_sine : public testing::TestWithParam<vector_isa> {};

TEST_P(vector_sine, sine_and_cosine_within_the_bound)
{
    if (!puretone::cpu_supports(GetParam()))
        GTEST_SKIP() << "this CPU lacks the instruction set";
    const auto angles = test_angles();
    std::vector<double> sines(angles.size()), cosines(angles.size());
    puretone::vector_estimates(GetParam(), puretone::trig_function::sine, angles.data(), sines.data(),
                               angles.size());
    puretone::vector_estimates(GetParam(), puretone::trig_function::cosine, angles.data(), cosines.data(),
                               angles.size());
    double worst = 0;
    for (std::size_t k = 0; k < angles.size(); ++k) {
        ASSERT_LE(std::fabs(angles[k]), puretone::vector_domain);
        worst = std::max({worst, error_of(sines[k], angles[k], mpfr_sin),
                          error_of(cosines[k], angles[k], mpfr_cos)});
        ASSERT_LE(worst, puretone::vector_error_bound) << "angle " << angles[k];
    }
    // SLEEF's own promise is 3.5 ulp; the bound allows eight times more.
    EXPECT_LE(worst, 3.5 * 0x1p-52);
}

const char* const isa_names[] = {"sse2", "avx", "avx512f"};

INSTANTIATE_TEST_SUITE_P(isa, vector_sine,
                         testing::Values(vector_isa::sse2, vector_isa::avx, vector_isa::avx512f),
                         [](const auto& info) { return std::string(isa_names[static_cast<int>(info.param)]); });

TEST(vector_sine_dispatch, widest_is_supported_and_never_narrower_than_needed)
{
    const vector_isa widest = puretone::widest_vector_isa();
    EXPECT_TRUE(puretone::cpu_supports(widest));
    for (const vector_isa isa : {vector_isa::avx, vector_isa::avx512f}) {
        if (puretone::cpu_supports(isa)) {
            EXPECT_GE(static_cast<int>(widest), static_cast<int>(isa));
        }
    }
}

}  // namespace
