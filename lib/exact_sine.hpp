// Exact samples from an estimate of the sine.
//
// A sample is v(RN(sin t)): RN the correctly rounded double sine, and v the
// sample format's map from a sine value, given the peak P:
//   integer formats   v(x) = trunc(RN(P * x)),   P a whole number below 2^31;
//   f32               v(x) = RN32(RN(P * x)),    P a double in [0, 1].
// At full scale in 16 bits, P = 32767 and v(x) = trunc(x * 32767.0).
// v is non-decreasing (P >= 0 and every rounding is monotonic), so if the
// true sine lies in [y - E, y + E] then RN(sin t) lies in [RN(y - E),
// RN(y + E)] and the sample lies between v(y - E) and v(y + E). When those
// agree, that is the sample; otherwise the resolver decides it exactly. The
// contract for every function here: the estimate y is finite and
// |y - sin t| <= E, with E at most 2^-20 and P (1 + 2E) below 2^31, so that
// no integer end overflows (|y +- E| <= 1 + 2E).
#pragma once

#include <algorithm>
#include <bit>
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
#include <type_traits>

namespace puretone {

// Bound on |std::sin(t) - sin t| for any finite t, taken only by the
// scalar reference path the tests compare with (sine_sample): no sample
// the library writes depends on libm's accuracy. glibc, musl and macOS reduce the argument exactly and err by less than
// 2 ulps of a result in [-1, 1], that is below 2^-52; 2^-49 allows eight
// times that. The roundings of y - E and y + E cost nothing: RN is monotonic,
// so RN(y - E) <= RN(sin t) <= RN(y + E) holds whenever the bound does.
constexpr double libm_error_bound = 0x1p-49;

// The sample types: int16_t for s16, int32_t for s24 (the 24-bit value,
// sign-extended) and s32, float for f32. Every integer sample is computed as
// an int32_t: |P * x| < 2^31 for |x| <= 1 + 2E (the contract below), so the
// truncation never overflows: at full scale in s32, (2^31 - 1)(1 + 2^-32) <
// 2^31.
template <class Sample>
constexpr bool is_float_sample = std::is_same_v<Sample, float>;

// v for integer formats: truncates toward zero.
inline std::int32_t scale_to_integer(double sine, double peak)
{
    return static_cast<std::int32_t>(sine * peak);
}

// v in the sample's own type, for any format.
template <class Sample>
inline Sample scale_sample(double sine, double peak)
{
    if constexpr (is_float_sample<Sample>)
        return static_cast<float>(sine * peak);  // RN32 of RN(P * x)
    else
        return static_cast<Sample>(scale_to_integer(sine, peak));
}

// Whether two samples are the same bits: -0.0f and +0.0f differ in a file.
template <class Sample>
inline bool same_sample(Sample a, Sample b)
{
    if constexpr (is_float_sample<Sample>)
        return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
    else
        return a == b;
}

// v at full scale in 16 bits: the sample a correctly rounded sine value gives.
inline std::int32_t scale_to_sample(double sine)
{
    return static_cast<std::int32_t>(sine * 32767.0);
}

// The samples of the bracket's ends, y - E and y + E, for the 16-bit
// full-scale format.
struct sample_bracket {
    std::int32_t low, high;
};

inline sample_bracket bracket_samples(double estimate, double bound)
{
    return {scale_to_sample(estimate - bound), scale_to_sample(estimate + bound)};
}

// The same for any format and peak: the samples of a bracket's ends.
struct sine_bracket {
    double low, high;  // RN(sin t) lies in [low, high]
};

template <class Sample>
struct bracket_of {
    Sample low, high;
};

template <class Sample>
inline bracket_of<Sample> bracket_ends(sine_bracket bracket, double peak)
{
    return {scale_sample<Sample>(bracket.low, peak), scale_sample<Sample>(bracket.high, peak)};
}

// The samples of y - E and y + E.
template <class Sample>
inline bracket_of<Sample> bracket_for(double estimate, double bound, double peak)
{
    return bracket_ends<Sample>({estimate - bound, estimate + bound}, peak);
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

// Peaks. There RN(sin t) is either exactly +-1, which gives +-P, or at most
// 1 - 2^-53 in magnitude, which gives at most P - 1 in magnitude, for every
// whole P >= 1 below 2^53:
//   P is a double. Let p be the double below P: p = P - 2^(e-52) with
//   2^e <= P < 2^(e+1), or P - 2^(e-53) where P = 2^e. If s <= 1 - 2^-53,
//   then P s <= P - P 2^-53. Where P is not a power of 2, P 2^-53 > 2^(e-53),
//   so P s lies below the midpoint P - 2^(e-53) of p and P, and RN(P s) <= p.
//   Where P = 2^e, P s <= P - 2^(e-53) = p, so again RN(P s) <= p. Then
//   RN(P s) < P, and truncation gives at most P - 1 (P is whole). At s = 1,
//   P s = P exactly. Negative s: the same, mirrored.
// So RN(sin t) is +-1 where |sin t| exceeds 1 - 2^-54, the midpoint below
// 1, that is where
//   cos^2 t < 1 - (1 - 2^-54)^2 = 2^-53 - 2^-108,   |cos t| < tau,
// and at most 1 - 2^-53 in magnitude where |cos t| > tau. An estimate of
// cos t thus narrows the bracket of RN(sin t): to +-1 exactly, or to within
// +-(1 - 2^-53); at a peak its two ends then give one sample (for f32 too,
// though there v(1 - 2^-53) and v(1) nearly always agree anyway).
constexpr double peak_tau = 0x1.6a09e667f3bccp-27;  // sqrt(2^-53 - 2^-108) ~ 1.05e-8, to nearest

// The bracket [y - E, y + E] of an estimate y of sin t within E (at most
// 2^-20), narrowed by a cosine c, with cosine_bound C at least 2^-70: c is
// any value such that |cos t| < tau where |c| < tau - 2C + 2^-79, and
// |cos t| > tau where |c| > tau + 2C - 2^-79. An estimate of cos t within C
// is one (the 2^-79 covers the roundings of tau and of tau +- 2C); so is
// the sine kernel's peak distance. Where |cos t| is surely below tau,
// RN(sin t) is +-1, with y's sign (|sin t| > 1 - 2^-54, so y is far from
// 0); where surely above, the ends are clamped to +-(1 - 2^-53); where c
// lies too near tau to tell, the bracket is left as it was. Inline, and
// choosing values only, without branches, so that it runs on vectors:
// peaks are half the samples of some tones.
inline sine_bracket narrowed_bracket(double sine, double bound, double cosine, double cosine_bound)
{
    constexpr double below_one = 1.0 - 0x1p-53;  // the double below 1
    const double margin = 2 * cosine_bound;
    const double magnitude = std::fabs(cosine);
    const bool at_peak = magnitude < peak_tau - margin;   // RN(sin t) = +-1
    const bool off_peak = magnitude > peak_tau + margin;  // |RN(sin t)| <= 1 - 2^-53
    // The ends are clamped to [floor, ceiling]: to y's sign at a peak, to
    // +-(1 - 2^-53) off one, else to +-1, where RN(sin t) lies anyway. Only constants are chosen, and the operations are done for every
    // sample: a choice between operations would keep the compiler from making
    // vector code of the loops.
    const double sign = std::copysign(1.0, sine);
    const double floor = at_peak ? sign : off_peak ? -below_one : -1.0;
    const double ceiling = at_peak ? sign : off_peak ? below_one : 1.0;
    return {std::min(std::max(sine - bound, floor), ceiling), std::min(std::max(sine + bound, floor), ceiling)};
}

// The exact sample for angle t, given any estimate within `bound` of sin t:
// the rounding test, then the accurate path (accurate_sine.hpp). Peaks are
// no exception: the block path settles nearly all of them first, with the
// kernel's peak distance (narrowed_bracket). Where even that leaves RN(sin t) open at its top
// precision, which no known angle does, `unsettled` is set and the sample is
// 0: the caller reports an error rather than a guess. `unsettled` is never
// cleared, so that one flag can gather a whole block.
std::int16_t resolve_sample(double angle, double estimate, double bound, bool& unsettled);

// The same for any format and peak: f32 samples near a zero crossing by the
// reduction by pi in double-double (zero_crossing.hpp), anything else left
// open by the accurate path.
template <class Sample>
Sample resolve_sample_for(double angle, double estimate, double bound, double peak, bool& unsettled);

// The same, with the rounding test inline: the common case costs no call.
inline std::int16_t exact_sample(double angle, double estimate, double bound, bool& unsettled)
{
    if (const auto sample = settled_sample(estimate, bound))
        return *sample;
    return resolve_sample(angle, estimate, bound, unsettled);
}

template <class Sample>
inline Sample exact_sample_for(double angle, double estimate, double bound, double peak, bool& unsettled)
{
    const bracket_of<Sample> ends = bracket_for<Sample>(estimate, bound, peak);
    if (same_sample(ends.low, ends.high))
        return ends.low;
    return resolve_sample_for<Sample>(angle, estimate, bound, peak, unsettled);
}

}  // namespace puretone
