// Checks a format description and computes its peak exactly.
//
// The peak of a dBFS level, F * 10^(d/20), is irrational unless d/20 is a
// whole number (10^q is rational only for whole q); then it is F / 10^n, a
// half-integer only if 5^n divides F, and none of 32767, 8388607 and
// 2147483647 is a multiple of 5. So it is never exactly a tie, and lower and
// upper bounds made at growing precision round to the same whole number
// after finitely many steps. The same holds for f32's RN(10^(d/20)): never
// the midpoint of two doubles (those are dyadic; 10^(d/20) is irrational or
// 10^-n, which is not, or 1, which is a double). decibel_peak.hpp makes the
// bounds, at 128, 256 and 512 bits.
#include "tone_format.hpp"

#include "decibel_peak.hpp"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace puretone {
namespace {

// Full scale of each integer type: 2^(bits-1) - 1.
double full_scale(sample_type type)
{
    switch (type) {
    case sample_type::s16:
        return 32767.0;
    case sample_type::s24:
        return 8388607.0;
    case sample_type::s32:
        return 2147483647.0;
    case sample_type::f32:
        break;
    }
    return 1.0;
}

// F * a rounded to the nearest whole number, ties away from zero, exactly,
// for a in [0, 1] and F < 2^31 a whole number:
//  - hi = RN(F a), lo = F a - hi, exact by FMA (std::fma rounds once, in
//    hardware or in the C library) wherever F a is not subnormal.
//  - hi < 1/4: F a < 1/4 (1 + 2^-52) < 1/2, so 0 (this takes the subnormal
//    products too).
//  - Else hi and every half-integer m + 1/2 below 2^31 are multiples of
//    ulp(hi) <= 2^-22, and |lo| <= ulp(hi) / 2: where hi is no half-integer,
//    hi + lo lies on the same side of each as hi, and round(hi) is the
//    answer; where it is one, lo decides, and lo = 0 is the tie.
double ratio_peak(double a, double scale)
{
    const double hi = scale * a;
    if (hi < 0.25)
        return 0.0;
    const double lo = std::fma(scale, a, -hi);
    const double whole = std::floor(hi);
    if (hi - whole == 0.5 && lo < 0)  // exact: hi < 2^31
        return whole;
    return std::round(hi);  // halves away from zero
}

}  // namespace

int peak_for(sample_type type, int level_kind, double level, double& peak)
{
    const bool whole = type != sample_type::f32;
    const double scale = full_scale(type);
    switch (level_kind) {
    case PURETONE_LEVEL_FULL:
        peak = scale;
        return PURETONE_OK;
    case PURETONE_LEVEL_RATIO: {
        if (!(level >= 0.0 && level <= 1.0))  // NaN fails too
            return PURETONE_ERROR_LEVEL;
        // -0 is +0: as a peak it would flip the sign of every zero sample.
        level = std::fabs(level);
        if (!whole) {
            peak = level;
            return PURETONE_OK;
        }
        peak = ratio_peak(level, scale);
        return PURETONE_OK;
    }
    case PURETONE_LEVEL_DBFS:
        if (!(std::isfinite(level) && level <= 0.0))
            return PURETONE_ERROR_LEVEL;
        return decibel_peak(level, scale, whole, peak) ? PURETONE_OK : PURETONE_ERROR_UNSETTLED;
    default:
        return PURETONE_ERROR_LEVEL;
    }
}

int read_format(const puretone_format* description, tone_format& format)
{
    // The fields of version 0.4.0 end with `reserved`; a larger struct, from
    // a later version, may be read only where what follows is zero.
    constexpr std::size_t known = sizeof(puretone_format);
    if (description == nullptr || description->size < known || description->size > 4096)
        return PURETONE_ERROR_DESCRIPTION;
    const auto* bytes = reinterpret_cast<const unsigned char*>(description);
    for (std::size_t k = known; k < description->size; ++k)
        if (bytes[k] != 0)
            return PURETONE_ERROR_DESCRIPTION;
    if (description->reserved != 0)
        return PURETONE_ERROR_DESCRIPTION;
    if (description->rate < 1 || description->rate > highest_rate)
        return PURETONE_ERROR_RATE;
    switch (description->sample_format) {
    case PURETONE_FORMAT_S16:
        format.type = sample_type::s16;
        break;
    case PURETONE_FORMAT_S24:
        format.type = sample_type::s24;
        break;
    case PURETONE_FORMAT_S32:
        format.type = sample_type::s32;
        break;
    case PURETONE_FORMAT_F32:
        format.type = sample_type::f32;
        break;
    default:
        return PURETONE_ERROR_FORMAT;
    }
    format.rate = description->rate;
    if (const int code = peak_for(format.type, description->level_kind, description->level, format.peak))
        return code;
    if (description->channels < 1 || description->channels > most_channels)
        return PURETONE_ERROR_CHANNELS;
    format.channels = description->channels;
    return PURETONE_OK;
}

}  // namespace puretone
