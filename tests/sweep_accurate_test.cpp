// The sweeps' accurate path against the MPFR oracle: the sine of the phase
// bit for bit at every precision that claims to settle it, across kinds,
// lengths and frequencies; the exact values of linear phases, and the hard
// ones, settled late or reported open; the synchronized length; and the
// inverse filter's samples. The oracle (sweep_oracle.hpp) settles each
// value at 200 bits or more.
#include "lib/sweep_accurate.hpp"
#include "sweep_oracle.hpp"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <random>
#include <utility>
#include <vector>

namespace {

// Under an emulator, fewer of each (PURETONE_EMULATED: tests/CMakeLists.txt).
constexpr bool emulated = PURETONE_EMULATED;


using puretone::sweep_kind;
using puretone::sweep_terms;

constexpr std::int64_t longest = std::int64_t{1} << 31;

sweep_terms synchronized(double f1, double f2, std::uint32_t rate, std::int64_t asked)
{
    sweep_terms s{sweep_kind::synchronized, f1, f2, rate, 0, 0};
    EXPECT_TRUE(puretone::synchronized_length(f1, f2, rate, asked, s.whole_cycles, s.frames)) << f1 << " " << f2;
    return s;
}

std::vector<sweep_terms> sweeps()
{
    const double near_1000 = std::nextafter(1000.0, 2000.0);
    return {
        {sweep_kind::exponential, 20, 20000, 48000, 48000, 0},
        {sweep_kind::exponential, 20, 20000, 48000, 480000, 0},
        {sweep_kind::exponential, 22, 22000, 44100, 441000, 0},
        {sweep_kind::exponential, 1, 24000, 48000, longest, 0},
        {sweep_kind::exponential, 1000, near_1000, 48000, 48000, 0},
        {sweep_kind::exponential, 1e-300, 2e-300, 1000, 1000, 0},      // phases near 1e-300: relative
        {sweep_kind::exponential, 0x1p-1074, 384000, 768000, longest, 0},  // lambda = 744
        {sweep_kind::linear, 20000, 20, 48000, 240000, 0},
        {sweep_kind::linear, -1000, 3000, 44100, 44100, 0},
        {sweep_kind::linear, 20, 24000, 48000, longest, 0},
        synchronized(20, 20000, 48000, 480000),
        synchronized(1, 24000, 48000, longest - 500000),
        synchronized(1000, near_1000, 48000, 4800),  // M near 2^60
    };
}

int precision_slot(int precision)
{
    return precision == -1 ? 4 : precision == 0 ? 0 : precision == 128 ? 1 : precision == 256 ? 2 : 3;
}

// Each index at each precision, and the loop: every settled sine is the
// oracle's, and the loop settles every one.
TEST(sweep_sine, matches_the_oracle_bit_for_bit)
{
    std::mt19937_64 random(20250101);
    int settled_at[5] = {};
    for (const sweep_terms& s : sweeps()) {
        std::vector<std::int64_t> indices = {0, 1, 2, s.frames / 2, s.frames - 2, s.frames - 1};
        std::uniform_int_distribution<std::int64_t> any(0, s.frames - 1);
        for (int k = 0; k < (emulated ? 20 : 300); ++k)
            indices.push_back(any(random));
        for (const std::int64_t i : indices) {
            const double want = puretone_test::oracle_sweep_sine(s, i);
            ASSERT_FALSE(std::isnan(want)) << i;
            for (const int bits : {128, 256, 512}) {
                const puretone::accurate_result at = puretone::accurate_sweep_sine_at(s, i, bits);
                if (at.precision != -1) {
                    ASSERT_TRUE(puretone_test::oracle_same(at.value, want))
                        << std::hexfloat << s.f1 << " " << s.f2 << " " << i << " at " << bits << ": " << at.value
                        << " for " << want;
                }
            }
            const puretone::accurate_result result = puretone::accurate_sweep_sine(s, i);
            ASSERT_NE(result.precision, -1) << std::hexfloat << s.f1 << " " << s.f2 << " " << i;
            ASSERT_TRUE(puretone_test::oracle_same(result.value, want)) << i;
            ++settled_at[precision_slot(result.precision)];
        }
    }
    std::cout << "sweep sines exact: " << settled_at[0] << ", settled at 128 bits: " << settled_at[1]
              << ", at 256: " << settled_at[2] << ", at 512: " << settled_at[3] << '\n';
}

// The signed fixed value in limbs[0 .. count) over 2^fraction_bits, exactly.
void set_limbs(mpfr_t x, const std::uint64_t* limbs, int count, int fraction_bits)
{
    const bool negative = (limbs[count - 1] >> 63) != 0;
    std::uint64_t carry = 1;  // the magnitude: ~limbs + 1
    mpfr_set_ui(x, 0, MPFR_RNDN);
    for (int k = 0; k < count; ++k) {
        std::uint64_t limb = limbs[k];
        if (negative) {
            limb = ~limb + carry;
            carry = carry != 0 && limb == 0;
        }
        for (const int shift : {0, 32}) {
            mpfr_t part;
            mpfr_init2(part, 64);
            mpfr_set_ui(part, static_cast<unsigned long>((limb >> shift) & 0xFFFFFFFF), MPFR_RNDN);
            mpfr_mul_2ui(part, part, static_cast<unsigned long>(64 * k + shift), MPFR_RNDN);
            mpfr_add(x, x, part, MPFR_RNDN);  // exact at 1200 bits
            mpfr_clear(part);
        }
    }
    mpfr_div_2ui(x, x, static_cast<unsigned long>(fraction_bits), MPFR_RNDN);
    if (negative)
        mpfr_neg(x, x, MPFR_RNDN);
}

// Random sweeps of every kind, with frequencies from 2^-1000 to Nyquist and
// ratios from 1 + 2^-52 up, at random frames: at each precision the phase
// lies within 2^phase_error_bits eps (relative) of c(i), and the sine within
// its bound of sin(2 pi c(i)), both from MPFR at 1200 bits.
TEST(sweep_sine, every_estimate_lies_within_its_bounds)
{
    std::mt19937_64 random(44100);
    std::uniform_real_distribution<double> unit(0, 1);
    const std::uint32_t rates[] = {8000, 44100, 48000, 96000, 768000};
    mpfr_t c, estimate, sine;
    mpfr_inits2(1200, c, estimate, sine, static_cast<mpfr_ptr>(nullptr));
    double worst[2] = {0, 0};  // phase, sine: the largest error / bound
    int checked = 0;
    for (int n = 0; n < (emulated ? 400 : 6000); ++n) {
        const std::uint32_t rate = rates[random() % 5];
        const double nyquist = rate / 2.0;
        sweep_terms s{static_cast<sweep_kind>(random() % 3), 0, 0, rate,
                      static_cast<std::int64_t>(std::exp2(31 * unit(random))), 0};
        s.f1 = nyquist * std::exp2(-(n % 4 == 0 ? 1000 : 30) * unit(random));
        s.f2 = n % 5 == 0 ? std::nextafter(s.f1, nyquist) : s.f1 + (nyquist - s.f1) * unit(random);
        if (s.kind == sweep_kind::linear && n % 2 == 0)
            s.f1 = -s.f1;
        if (s.kind == sweep_kind::synchronized &&
            !puretone::synchronized_length(s.f1, s.f2, rate, s.frames, s.whole_cycles, s.frames))
            continue;
        if (!(s.f1 != s.f2))
            continue;
        const auto i = static_cast<std::int64_t>(unit(random) * static_cast<double>(s.frames));
        puretone_test::oracle_phase(c, s, i);
        puretone_test::oracle_cycle_sine(sine, c);
        for (const int bits : {128, 256, 512}) {
            const puretone::sweep_estimate e = puretone::accurate_sweep_estimate(s, i, bits);
            if (e.count == 0)
                continue;
            ++checked;
            set_limbs(estimate, e.phase, e.count + 1, bits + 62);
            mpfr_mul_2si(estimate, estimate, e.phase_exponent, MPFR_RNDN);
            mpfr_sub(estimate, estimate, c, MPFR_RNDN);
            mpfr_div(estimate, estimate, c, MPFR_RNDN);
            mpfr_mul_2si(estimate, estimate, bits + 62 - puretone::phase_error_bits, MPFR_RNDN);
            const double phase_ratio = std::fabs(mpfr_get_d(estimate, MPFR_RNDU));
            set_limbs(estimate, e.sine, e.count, bits - 2);
            mpfr_mul_2si(estimate, estimate, e.shift, MPFR_RNDN);
            mpfr_sub(estimate, estimate, sine, MPFR_RNDN);
            mpfr_mul_2si(estimate, estimate, bits - 2 - e.shift, MPFR_RNDN);
            const double sine_ratio = std::fabs(mpfr_get_d(estimate, MPFR_RNDU)) / static_cast<double>(e.bound_units);
            ASSERT_LT(phase_ratio, 1.0) << std::hexfloat << s.f1 << " " << s.f2 << " " << i << " at " << bits;
            ASSERT_LT(sine_ratio, 1.0) << std::hexfloat << s.f1 << " " << s.f2 << " " << i << " at " << bits;
            worst[0] = std::max(worst[0], phase_ratio);
            worst[1] = std::max(worst[1], sine_ratio);
        }
    }
    mpfr_clears(c, estimate, sine, static_cast<mpfr_ptr>(nullptr));
    std::cout << checked << " estimates; largest error / bound: phase " << worst[0] << ", sine " << worst[1] << '\n';
    EXPECT_GT(checked, emulated ? 600 : 10000);  // most draws give an estimate at each precision
}

// Linear phases are rational: on a half cycle the sine is exactly +0, on a
// quarter cycle 1, on 1/12 of one 1/2. And c = 1 + (3/8) f1 with f2 = 8,
// N = R = 1000, i = 500: a sine of about 2.4 f1, which a fixed point holds
// only once its last place is well below f1: f1 = 2^-150 needs 256 bits,
// 2^-300 needs 512, and 2^-600 is left open, never guessed.
TEST(sweep_sine, exact_and_hard_linear_phases)
{
    struct row {
        sweep_terms sweep;
        std::int64_t index;
        int precision;
    };
    const row rows[] = {
        {{sweep_kind::linear, -1, 3, 1000, 100, 0}, 50, 0},          // c = 0 inside the sweep
        {{sweep_kind::linear, 0, 100, 1000, 1000, 0}, 100, 0},       // c = 1/2
        {{sweep_kind::linear, -300, 500, 1000, 1000, 0}, 500, 0},    // c = -50
        {{sweep_kind::linear, 0, 50, 1000, 1000, 0}, 100, 128},      // c = 1/4: 1
        {{sweep_kind::linear, 0, 9600, 48000, 48000, 0}, 200, 128},  // c = 1/12: 1/2
        {{sweep_kind::linear, 0x1p-150, 8, 1000, 1000, 0}, 500, 256},
        {{sweep_kind::linear, 0x1p-300, 8, 1000, 1000, 0}, 500, 512},
        {{sweep_kind::linear, 0x1p-600, 8, 1000, 1000, 0}, 500, -1},
    };
    for (const row& r : rows) {
        const puretone::accurate_result result = puretone::accurate_sweep_sine(r.sweep, r.index);
        EXPECT_EQ(result.precision, r.precision) << r.sweep.f1 << " " << r.sweep.f2;
        if (result.precision != -1) {
            EXPECT_TRUE(puretone_test::oracle_same(result.value, puretone_test::oracle_sweep_sine(r.sweep, r.index)))
                << r.sweep.f1 << " " << r.sweep.f2 << ": " << result.value;
        }
    }
}

// f2 for which the synchronized length lands next to a half-integer: M
// (f1 T / lambda = m + 1/2) or N (R M lambda / f1 = n + 1/2), f2 = RN(f1
// e^lambda) for the lambda that puts it there.
double near_tie(double f1, std::uint32_t rate, std::int64_t asked, double whole_cycles, double half)
{
    mpfr_t lambda;
    mpfr_init2(lambda, 200);
    mpfr_set_d(lambda, f1, MPFR_RNDN);
    if (whole_cycles == 0) {  // lambda = f1 T / (m + 1/2)
        mpfr_mul_d(lambda, lambda, static_cast<double>(asked), MPFR_RNDN);
        mpfr_div_ui(lambda, lambda, rate, MPFR_RNDN);
        mpfr_div_d(lambda, lambda, half, MPFR_RNDN);
    } else {  // lambda = (n + 1/2) f1 / (R M)
        mpfr_mul_d(lambda, lambda, half, MPFR_RNDN);
        mpfr_div_ui(lambda, lambda, rate, MPFR_RNDN);
        mpfr_div_d(lambda, lambda, whole_cycles, MPFR_RNDN);
    }
    mpfr_exp(lambda, lambda, MPFR_RNDN);
    mpfr_mul_d(lambda, lambda, f1, MPFR_RNDN);
    const double f2 = mpfr_get_d(lambda, MPFR_RNDN);
    mpfr_clear(lambda);
    return f2;
}

TEST(synchronized_length, matches_the_oracle)
{
    struct row {
        double f1, f2;
        std::uint32_t rate;
        std::int64_t asked;
    };
    std::vector<row> rows = {
        {20, 20000, 48000, 480000},
        {22, 22000, 44100, 441000},
        {1, 24000, 48000, longest - 500000},
        {1, 24000, 48000, longest - 48000},                            // N above 2^31
        {1000, std::nextafter(1000.0, 2000.0), 48000, 4800},           // M near 2^60
        {1000, std::nextafter(1000.0, 2000.0), 48000, 48000},          // M above 2^62
        {0.001, 20000, 48000, 48},                                     // M = 0
        {1e-300, 384000, 768000, 768000},                              // M = 0
    };
    // Next to ties: M = 28 + 1/2 for 20 Hz over 10 s, then N for M = 29.
    rows.push_back({20, near_tie(20, 48000, 480000, 0, 28.5), 48000, 480000});
    rows.push_back({20, near_tie(20, 48000, 480000, 29, 480773.5), 48000, 480000});
    rows.push_back({3, near_tie(3, 44100, 44100 * 7, 0, 4.5), 44100, 44100 * 7});
    int lengths = 0;
    for (const row& r : rows) {
        std::int64_t m = -1, n = -1, want_m = -1, want_n = -1;
        const bool found = puretone::synchronized_length(r.f1, r.f2, r.rate, r.asked, m, n);
        puretone_test::oracle_synchronized_length(r.f1, r.f2, r.rate, r.asked, want_m, want_n);
        ASSERT_NE(want_m, -1);
        const bool valid = want_m >= 1 && want_m <= (std::int64_t{1} << 62) && want_n >= 1 && want_n <= longest;
        EXPECT_EQ(found, valid) << std::hexfloat << r.f1 << " " << r.f2 << " " << r.asked;
        if (found && valid) {
            EXPECT_EQ(m, want_m) << std::hexfloat << r.f1 << " " << r.f2;
            EXPECT_EQ(n, want_n) << std::hexfloat << r.f1 << " " << r.f2;
            ++lengths;
        }
    }
    EXPECT_EQ(lengths, 7);
}

TEST(inverse_sample, matches_the_oracle)
{
    std::mt19937_64 random(96000);
    int settled_at[5] = {};
    for (const sweep_terms& s : sweeps()) {
        if (s.kind == sweep_kind::linear) {
            EXPECT_EQ(puretone::accurate_inverse_sample(s, 1, 1.0, 1.0).precision, -1);
            continue;
        }
        std::vector<std::int64_t> indices = {0, 1, s.frames / 2, s.frames - 2, s.frames - 1};
        std::uniform_int_distribution<std::int64_t> any(0, s.frames - 1);
        for (int k = 0; k < (emulated ? 4 : 40); ++k)
            indices.push_back(any(random));
        for (const std::int64_t j : indices)
            for (const auto& [gain, gain_out] : {std::pair{1.0, 1.0}, {0x1.6a09e667f3bcdp-1, 1.0},
                                                 {0x1.3p-3, 0x1.fffffffffffffp-1}, {0x1p-20, 0.0}}) {
                const float want = puretone_test::oracle_inverse_sample(s, j, gain, gain_out);
                const puretone::inverse_result result = puretone::accurate_inverse_sample(s, j, gain, gain_out);
                ASSERT_NE(result.precision, -1) << s.f1 << " " << s.f2 << " " << j;
                ASSERT_TRUE(puretone_test::oracle_same(result.value, want))
                    << std::hexfloat << s.f1 << " " << s.f2 << " " << j << " " << gain << ": " << result.value
                    << " for " << want;
                ++settled_at[precision_slot(result.precision)];
            }
    }
    std::cout << "inverse samples exact: " << settled_at[0] << ", settled at 128 bits: " << settled_at[1]
              << ", at 256: " << settled_at[2] << ", at 512: " << settled_at[3] << '\n';
}

}  // namespace
