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

#include <cstdint>
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

// The exact sample for angle t, given any estimate within `bound` of sin t.
// Peaks, where the bracket straddles 32766 and 32767 (or their negatives),
// are settled by |cos t|; anything else left open goes to MPFR.
std::int16_t resolve_sample(double angle, double estimate, double bound);

// v of the correctly rounded sine, computed with MPFR. Slow; always right.
std::int16_t correctly_rounded_sample(double angle);

}  // namespace puretone
