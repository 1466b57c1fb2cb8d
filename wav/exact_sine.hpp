// Exact samples from an estimate of the sine.
//
// A sample is v(RN(sin t)): RN the correctly rounded double sine, and
//   v(x) = trunc(x * 32767.0)      (the product rounded to double first).
// v is non-decreasing, so if the true sine lies in [y - E, y + E] then
// RN(sin t) lies in [RN(y - E), RN(y + E)] and the sample lies between
// v(y - E) and v(y + E). When those agree, that is the sample; otherwise the
// resolver decides it exactly. The contract for every function here: the
// estimate y is finite and |y - sin t| <= E, with E far below 1/32767.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

// Every double operation here and in the angle must round once, to double.
// Where the compiler keeps intermediate results wider (x87 without SSE2
// math), the angles and the rounding test come out wrong.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "FLT_EVAL_METHOD is not 0: doubles would carry excess precision; on 32-bit x86 build with -msse2 -mfpmath=sse"
#endif
// -ffast-math (or -Ofast, or -ffinite-math-only) lets the compiler drop the
// checks for infinities and NaNs, reassociate sums and flush subnormals: the
// samples come out wrong, often all zero, with no error. The build adds
// -fno-fast-math after any flags a parent project passes; this catches a
// build that still gets them.
#if defined(__FAST_MATH__) || (defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__)
#error "the sample code must not be built with -ffast-math, -Ofast or -ffinite-math-only: its samples would be wrong"
#endif
#include <optional>

namespace puretone {

// Bound on |std::sin(t) - sin t| and on |std::cos(t) - cos t| for any finite
// t. glibc, musl and macOS reduce the argument exactly and err by less than
// 2 ulps of a result in [-1, 1], that is below 2^-52; 2^-49 allows eight
// times that. The roundings of y - E and y + E cost nothing: RN is monotonic,
// so RN(y - E) <= RN(sin t) <= RN(y + E) holds whenever the bound does.
constexpr double libm_error_bound = 0x1p-49;

// v: the sample a correctly rounded sine value gives. Truncates toward zero.
inline std::int32_t scale_to_sample(double sine)
{
    return static_cast<std::int32_t>(sine * 32767.0);
}

// The samples of the bracket's ends, y - E and y + E.
struct sample_bracket {
    std::int32_t low, high;
};

inline sample_bracket bracket_samples(double estimate, double bound)
{
    return {scale_to_sample(estimate - bound), scale_to_sample(estimate + bound)};
}

// The rounding test: the sample, when both ends of the estimate's bracket
// give the same one; nothing when the bracket straddles a sample boundary.
inline std::optional<std::int16_t> settled_sample(double estimate, double bound)
{
    const sample_bracket ends = bracket_samples(estimate, bound);
    if (ends.low != ends.high)
        return std::nullopt;
    return static_cast<std::int16_t>(ends.low);
}

// Peaks. There RN(sin t) is either exactly +-1, which gives +-32767, or at
// most 1 - 2^-53 in magnitude, which gives +-32766 (32767 * (1 - 2^-53)
// rounds to 32767 - 2^-38). RN(sin t) is +-1 exactly when |sin t| exceeds
// 1 - 2^-54, the midpoint below 1, that is when
//   cos^2 t < 1 - (1 - 2^-54)^2 = 2^-53 - 2^-108,   |cos t| < tau.
constexpr double peak_tau = 0x1.6a09e667f3bccp-27;  // sqrt(2^-53 - 2^-108) ~ 1.05e-8, to nearest

// A straddle at a peak, settled from an estimate of cos t within
// cosine_bound (at least 2^-70): the sample is +-32767 when |cos t| is surely
// below tau, +-32766 when surely above. 0, which no peak gives, when the
// bracket is not a peak or the cosine lies too near tau to tell. Inline and
// without branches, so that it runs on vectors: peaks are half the samples
// of some tones.
inline std::int32_t settle_peak(sample_bracket ends, double cosine, double cosine_bound)
{
    // Plain arithmetic on 0s and 1s, no branch: the compiler can turn it
    // into vector operations.
    const std::int32_t positive_peak = (ends.low == 32766) & (ends.high == 32767);
    const std::int32_t negative_peak = (ends.low == -32767) & (ends.high == -32766);
    // One bound for the cosine's error, one more to cover the roundings of
    // tau and of tau +- margin, each below 2^-79.
    const double margin = 2 * cosine_bound;
    const double magnitude = std::fabs(cosine);
    const std::int32_t surely_below = magnitude < peak_tau - margin;  // |cos t| < tau: +-1 exactly
    const std::int32_t surely_above = magnitude > peak_tau + margin;  // |cos t| > tau: below 1
    return (positive_peak - negative_peak) * (32767 * surely_below + 32766 * surely_above);
}

// The exact sample for angle t, given any estimate within `bound` of sin t.
// Peaks, where the bracket straddles 32766 and 32767 (or their negatives),
// are settled by |cos t|; anything else left open goes to MPFR.
std::int16_t resolve_sample(double angle, double estimate, double bound);

// The same, with the rounding test inline: the common case costs no call.
inline std::int16_t exact_sample(double angle, double estimate, double bound)
{
    if (const auto sample = settled_sample(estimate, bound))
        return *sample;
    return resolve_sample(angle, estimate, bound);
}

// v of the correctly rounded sine, computed with MPFR. Slow; always right.
std::int16_t correctly_rounded_sample(double angle);

}  // namespace puretone
