// The sine kernel: estimates of sin t for a run of samples, with a proven
// error bound sized to the sample format's decision, and beside each a
// distance that tells whether the sample is at a peak.
//
// Contract: for a run of sample indices whose angles t lie within the
// reduction's domain (angle_reduction.hpp), sines[k] lies within
// kernel.total_bound of sin t, and peaks[k] is the peak distance, about
// pi/2 - |x| (below), which stands in for |cos t| in narrowed_bracket
// (exact_sine.hpp) within peak_distance_bound. Each
// estimate still goes through the rounding test, so the kernel, the
// instruction set and FMA change speed, never bytes. The loops have no
// branches and no calls, so the compiler makes them into vector code for
// each instruction set it is built for (the x86-64 copies, Advanced SIMD,
// SVE), from this one source.
//
// Steps, each proven where it is written: the angle, in the sample formula's
// order; its reduction by half turns (angle_reduction.hpp), exact but for
// 2^-52.9, and first by whole turns where the angle is beyond 2^40; then one
// polynomial for the sine of the reduced angle x, |x| < 1.5711, and the
// half turns' sign.
//
// Every function here is always inlined, and calls no inline function that
// is not (no std::array, no std::bit_cast): this header is included by files
// built for wider instruction sets, and an out-of-line copy made there could
// be shared with code that must run on any CPU of the architecture.
//
// Built with -ffp-contract=off: every operation rounds once, as below.
#pragma once

#include "angle_reduction.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace puretone {

// sin x ~ x + x^3 S(x^2) on |x| <= 1.5711, S in Horner's form in z =
// RN(x * x). The evaluation's rounding errors, for the n coefficients s_j of
// S(z) = sum s_j z^j, and u = 2^-53:
//   - z = x^2 (1 + e), |e| <= u, z <= zmax = 1.5711^2 (1 + u).
//   - Horner without fused operations errs by at most gamma(2(n - 1)) *
//     sum |s_j| zmax^j, gamma(m) = m u / (1 - m u) (Higham, 5.1); z's own
//     error moves S by at most u x^2 sum j |s_j| zmax^(j-1). A fused step
//     rounds once instead of twice, within the same bound.
//   - w = RN(z S^): within u |z S^| + zmax |S^ - S(z)| + u x^2 |S(z)| of
//     x^2 S(x^2).
//   - v = RN(x w), y = RN(x + v): within u |x w| + |x| |w - x^2 S| + u |x +
//     v|. Fused, x + x w rounds once, within the same bound.
//   - The sign (-1)^k is exact: a flip of the sign bit.
// sine_kernel.sollya computes this from the coefficients, with |x| <=
// 1.5711, rounded up: evaluation_bound. x differs from the exact reduced
// angle by at most half_turn_error_bound, and sin has a slope of at most 1
// between them (the 2^-10 below is margin only), so
//   total_bound = (1 + 2^-10) half_turn_error_bound + approximation_bound
//                 + evaluation_bound.
template <std::size_t terms>
struct kernel_polynomial {
    double sine[terms];  // S: the coefficients of x^3, x^5, ... (a plain array: see above)
    double approximation_bound;      // sup |polynomial - sin| on |x| <= 1.5711, certified
    double evaluation_bound;         // the rounding errors above
    double total_bound;              // the bound the rounding test takes
};

// The bound of fine_kernel's estimates with the reduction in double-double
// (relative_kernel, below): |y - sin t| <= relative |y| + absolute.
struct relative_bounds {
    double approximation;  // sup |polynomial / sin - 1| on |x| <= 1.5711, certified
    double relative;
    double absolute;
};

// The two kernels. coarse_kernel is for 16-bit samples: a sample boundary
// is 1/32767 wide, so with its bound of 2^-35.7 about one sample in 2^19.7
// straddles one (the peaks aside, which the peak distance settles).
// fine_kernel is for s24, s32 and f32, and for the samples coarse_kernel
// leaves open: its bound, 2^-48.7, is mostly the reduction's and the
// evaluation's own.
//
// sollya: the output of `sollya lib/sine_kernel.sollya`, as it prints it.
// coarse_kernel: degree 11 on |x| <= 1.5711
constexpr kernel_polynomial<5> coarse_kernel = {
    {-0x1.555555409bf34p-3, 0x1.11110af6a76cfp-7, -0x1.a01780b298a2p-13, 0x1.7166e8521b6e1p-19, -0x1.99acddd53b838p-26},
    0x1.36p-36,  // approximation
    0x1.4ep-50,  // evaluation in double
    0x1.38p-36,  // in all, with the reduction's
};
// fine_kernel: degree 17 on |x| <= 1.5711
constexpr kernel_polynomial<8> fine_kernel = {
    {-0x1.5555555555555p-3, 0x1.11111111110c2p-7, -0x1.a01a01a01467fp-13, 0x1.71de3a526f0a8p-19, -0x1.ae6454be1c5a9p-26, 0x1.6123c7a2727b6p-33, -0x1.ae422e99609e6p-41, 0x1.88108b35563c2p-49},
    0x1.2p-62,  // approximation
    0x1.dcp-50,  // evaluation in double
    0x1.4p-49,  // in all, with the reduction's
};
constexpr relative_bounds fine_kernel_relative = {
    0x1.1ap-61,  // approximation, relative to sin x
    0x1.1ep-49,  // relative to the estimate
    0x1.7ap-117,  // absolute
};
// :sollya

// For f32: fine_kernel's polynomial with a bound relative to the sine
// (relative_estimate, below), for angles within half_turn_domain.
struct relative_kernel {
    kernel_polynomial<8> polynomial;
    relative_bounds bounds;
};
constexpr relative_kernel float_kernel = {fine_kernel, fine_kernel_relative};

// The rounding test's bound for the kernel's estimates must cover the sum
// above; the script computes it, and this checks its arithmetic again.
template <class Kernel>
constexpr bool bound_covers(const Kernel& kernel)
{
    return kernel.total_bound
           >= (1 + 0x1p-10) * half_turn_error_bound + kernel.approximation_bound + kernel.evaluation_bound;
}
static_assert(bound_covers(coarse_kernel) && bound_covers(fine_kernel));

// a * b + c, fused where that is as fast (one rounding), else two roundings:
// either is within the bounds above.
template <bool fused>
[[gnu::always_inline]] inline double multiply_add(double a, double b, double c)
{
    if constexpr (fused)
        return std::fma(a, b, c);
    else
        return a * b + c;
}

// c[j] + z (c[j + 1] + z (...)), written out at compile time: a loop here
// would keep the compiler from making the samples' loop into vector code.
template <bool fused, std::size_t j = 0, std::size_t terms>
[[gnu::always_inline]] inline double horner(const double (&c)[terms], double z)
{
    if constexpr (j + 1 == terms)
        return c[j];
    else
        return multiply_add<fused>(horner<fused, j + 1>(c, z), z, c[j]);
}

struct sine_and_peak {
    double sine;  // an estimate of sin t
    double peak;  // the peak distance, below
};

// The peak distance: d = RN(RN(H1 - |x|) + H2), H1 + H2 = RN(pi/2) +
// RN(pi/2 - H1), within 2^-107 of pi/2. |cos t| = |cos x_true| = sin |m|,
// m = pi/2 - |x_true|, and d lies within E = half_turn_error_bound + 2^-52
// of m (two roundings of values below 2, and 2^-107, within the former's
// rounding up; and x's own error). narrowed_bracket asks, for a bound C
// >= E, that |cos t| < tau where |d| < tau - 2C + 2^-79, and |cos t| > tau
// where |d| > tau + 2C - 2^-79:
//   - then |m| < tau - C + 2^-79 < tau, and sin |m| <= |m| < tau;
//   - or |m| > a = tau + C - 2^-79 (and |m| <= pi/2, where sin rises), so
//     sin |m| >= sin a >= a - a^3/6 > tau, as C - 2^-79 > a^3/6 for every C
//     from 2^-70 to 2^-20.
// A plain estimate of cos t would take a second polynomial; this takes
// three operations, and is as good where it counts, near a peak. Its bound
// is E itself, whatever the sine's: with a sine's bound in its place (as
// large as 2^-35.7), peaks whose |cos t| lies within 4 C of tau would stay
// open: beyond frame 5e7 at 11025 Hz, where the angle's own rounding puts
// |cos t| near tau, one peak in 200, each to the accurate path.
constexpr double peak_distance_bound = half_turn_error_bound + 0x1p-52;
constexpr double half_pi_1 = 0x1.921fb54442d18p+0;   // RN(pi/2)
constexpr double half_pi_2 = 0x1.1a62633145c07p-54;  // RN(pi/2 - H1)

// Estimates for t reduced by half turns, without branches.
template <bool fused, class Kernel>
[[gnu::always_inline]] inline sine_and_peak kernel_estimate(const Kernel& kernel, half_turn_angle reduced)
{
    const double x = reduced.x;
    const double z = x * x;
    const double sine = multiply_add<fused>(x, z * horner<fused>(kernel.sine, z), x);
    return {with_sign(sine, reduced.sign), (half_pi_1 - std::fabs(x)) + half_pi_2};
}

// An estimate of sin t whose bound is relative to it, for f32, whose
// samples near a zero crossing need |sin t| to within 2^-24 of itself: 1 kHz
// at 48 kHz puts one there every 24 frames, 11025 Hz at 44.1 kHz every
// other frame, with |sin t| ~ 1e-16, where an absolute bound leaves each
// open. From reduce_half_turns_precisely, X = t - k pi = c + rl + d, with
// |d| <= dc |c| + d0 and |rl| <= rl0: p(x) = x + x^3 S(x^2), fine_kernel's
// polynomial, is evaluated at c, and rl added last. z = RN(c c), S^ and w
// = RN(z S^) as in kernel_estimate; then q = RN(c w + rl) (fused, or RN(rl
// + RN(c w))), y = RN(c + q). With u = 2^-53, S = S(c^2), sabs >= |S| and
// es >= |S^ - S| as above:
//   - |w - c^2 S| <= c^2 W, W = u (1 + u)(sabs + es) + (1 + u) es + u sabs;
//   - |q - (rl + c^3 S)| <= |c|^3 V + u (|rl| + |c|^3 (sabs + W)), with V =
//     u (sabs + W) + W (the fused form rounds once, within the same);
//   - |y - (c + q)| <= u |y|;
//   - |p(c) - sin c| <= eta |sin c| <= eta |c|, eta the polynomial's
//     relative error (a certified supnorm: relative_bounds.approximation);
//   - sin X = sin(c + delta), delta = rl + d: |sin X - sin c - rl| <= |d| +
//     |delta| c^2 / 2 + delta^2 / 2 (Taylor, and 1 - cos c <= c^2 / 2).
// |c| <= a = 1.5711, so c^2 <= a |c|, and the sum is u |y| + alpha |c| +
// beta. |c| <= (|X| + del0) / (1 - delc), where |delta| <= delc |c| + del0,
// and |X| <= g |sin X|, g = a / sin a (x / sin x grows on [0, a]). So, with
// s = sin X, |y - s| <= u |y| + A |s| + B, and as |s| <= |y| + |y - s|,
//   |y - s| <= (u + A) / (1 - A) |y| + B / (1 - A).
// sine_kernel.sollya computes every term from the constants. Each step is
// odd in (c, rl), so the sign of (-1)^k, carried on both, comes out on y,
// and sin t = (-1)^k sin X. The bound is computed as RN(RN(relative |y|) +
// absolute) (estimate_bound): the constants are the true ones times 1 +
// 2^-50, rounded up, which covers both roundings (each a factor of at least
// 1 - 2^-53; and 2^-1075 where the product is subnormal, far below the
// absolute part). Every rounding above is taken as a factor 1 + u; below
// 2^-1022 it errs instead by at most 2^-1075 absolute, which happens only
// for |c| < 2^-511 (so k = 0, c = t exactly, rl = 0), a handful of such
// errors, far below the absolute part too. Beside the fine kernel's, this costs a product and a sum
// (fused), the signs and the bound.
template <bool fused>
[[gnu::always_inline]] inline double relative_estimate(const relative_kernel& kernel, double c, double rl)
{
    const double z = c * c;
    const double w = z * horner<fused>(kernel.polynomial.sine, z);
    return c + multiply_add<fused>(c, w, rl);
}

// The bound of an estimate y: relative |y| + absolute.
struct estimate_bound {
    double relative;
    double absolute;
};

[[gnu::always_inline]] inline double bound_of(estimate_bound bound, double estimate)
{
    return bound.relative * std::fabs(estimate) + bound.absolute;
}

// The angle of sample `index`, in the sample formula's order: index / rate,
// times the frequency, times 2, times pi (the double nearest pi).
[[gnu::always_inline]] inline double tone_angle(std::int32_t index, double frequency, double rate)
{
    double t = static_cast<double>(index) / rate;
    t = t * frequency;
    t = t * 2.0;
    t = t * 3.141592653589793;
    return t;
}

// The reduction the kernel takes: by half turns, and first by whole turns
// where the angle is beyond half_turn_domain (`far`).
template <bool fused, bool far>
[[gnu::always_inline]] inline half_turn_angle kernel_reduction(double t)
{
    if constexpr (far)
        return reduce_half_turns<fused>(reduce_angle<fused>(t).r);
    else
        return reduce_half_turns<fused>(t);
}

// sines[k], peaks[k]: the kernel's estimates for sample first + k, k <
// count. Two loops, the reduced angles kept in the outputs in between: each
// loop's chain of dependent operations is then short enough that the CPU
// overlaps many samples' chains, where one long loop would wait on each.
template <bool fused, bool far, class Kernel>
[[gnu::always_inline]] inline void kernel_estimates(const Kernel& kernel, std::int32_t first, double frequency,
                                                    double rate, double* __restrict sines,
                                                    double* __restrict peaks, std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k)
        sines[k] = tone_angle(first + static_cast<std::int32_t>(k), frequency, rate);
    for (std::size_t k = 0; k < count; ++k) {
        const half_turn_angle reduced = kernel_reduction<fused, far>(sines[k]);
        sines[k] = reduced.x;
        peaks[k] = reduced.sign;
    }
    for (std::size_t k = 0; k < count; ++k) {
        const sine_and_peak estimate = kernel_estimate<fused>(kernel, {sines[k], peaks[k]});
        sines[k] = estimate.sine;
        peaks[k] = estimate.peak;
    }
}

// The same, with the reduction the run's angles need.
template <bool fused, class Kernel>
[[gnu::always_inline]] inline void kernel_estimates(const Kernel& kernel, std::int32_t first, double frequency,
                                                    double rate, double* sines, double* peaks, std::size_t count,
                                                    bool far)
{
    if (far)
        return kernel_estimates<fused, true>(kernel, first, frequency, rate, sines, peaks, count);
    kernel_estimates<fused, false>(kernel, first, frequency, rate, sines, peaks, count);
}

// sines[k]: estimates of the sine of sample first + k, k < count, each
// within relative_bound(kernel, far) of it: relative_estimate's, or, for a
// run beyond half_turn_domain (`far`), where the reduction by whole turns
// errs in absolute terms, fine_kernel's. `low` is scratch. Three loops, as
// above: one would chain some 20 dependent operations a sample, more than
// the CPU's schedulers hold for many samples at once (measured 1.4x the
// time).
template <bool fused>
[[gnu::always_inline]] inline void kernel_estimates(const relative_kernel& kernel, std::int32_t first,
                                                    double frequency, double rate, double* __restrict sines,
                                                    double* __restrict low, std::size_t count, bool far)
{
    if (far)
        return kernel_estimates<fused, true>(kernel.polynomial, first, frequency, rate, sines, low, count);
    for (std::size_t k = 0; k < count; ++k)
        sines[k] = tone_angle(first + static_cast<std::int32_t>(k), frequency, rate);
    for (std::size_t k = 0; k < count; ++k) {
        const half_turn_pair reduced = reduce_half_turns_precisely<fused>(sines[k]);
        sines[k] = with_sign(reduced.c, reduced.sign);
        low[k] = with_sign(reduced.rl, reduced.sign);
    }
    for (std::size_t k = 0; k < count; ++k)
        sines[k] = relative_estimate<fused>(kernel, sines[k], low[k]);
}

[[gnu::always_inline]] inline estimate_bound relative_bound(const relative_kernel& kernel, bool far)
{
    return far ? estimate_bound{0.0, kernel.polynomial.total_bound}
               : estimate_bound{kernel.bounds.relative, kernel.bounds.absolute};
}

// Whether a run of samples needs the reduction by whole turns first: the
// magnitude of the angle never decreases with the index.
[[gnu::always_inline]] inline bool far_angles(std::int32_t last, double frequency, double rate)
{
    return std::fabs(tone_angle(last, frequency, rate)) > half_turn_domain;
}

#if defined(__aarch64__)
// The same loops built for SVE (sine_kernel_sve.cpp), for CPUs that have it.
void kernel_estimates_sve(const kernel_polynomial<5>& kernel, std::int32_t first, double frequency, double rate,
                          double* sines, double* peaks, std::size_t count, bool far);
void kernel_estimates_sve(const kernel_polynomial<8>& kernel, std::int32_t first, double frequency, double rate,
                          double* sines, double* peaks, std::size_t count, bool far);
void kernel_estimates_sve(const relative_kernel& kernel, std::int32_t first, double frequency, double rate,
                          double* sines, double* low, std::size_t count, bool far);
#endif

}  // namespace puretone
