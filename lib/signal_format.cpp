// Checks a signal description field by field. The sum that bounds a
// channel: |RN(a s)| <= |a| for |s| <= 1, as a is a double; and |RN(y + z)|
// <= RN(Y + Z) wherever |y| <= Y and |z| <= Z, as RN is monotonic. So |y|
// is at most the |a_k| summed in order, in double, and never above 1 when
// that sum is not. A fade's gain lies in [0, 1] and keeps |y| so.
#include "lib/signal_format.hpp"

#include "lib/sweep_accurate.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace puretone {
namespace {

constexpr std::int64_t index_end = std::int64_t{1} << 31;
constexpr std::size_t largest_description = 4096;

// A struct of `size` bytes, of which this library knows `known`: the rest,
// from a later version, may only be zero.
bool known_fields_only(const void* record, std::size_t size, std::size_t known)
{
    if (size < known || size > largest_description)
        return false;
    const auto* bytes = static_cast<const unsigned char*>(record);
    for (std::size_t k = known; k < size; ++k)
        if (bytes[k] != 0)
            return false;
    return true;
}

int read_tone(const puretone_tone& tone, const tone_format& format, signal_tone& out)
{
    if (!std::isfinite(tone.frequency) || std::fabs(tone.frequency) > 2147483648.0)
        return PURETONE_ERROR_FREQUENCY;
    // The amplitude is a level of f32, whose peak is the ratio itself or
    // RN(10^(d/20)); a negative ratio inverts the tone.
    const bool inverted = tone.level_kind == PURETONE_LEVEL_RATIO && tone.level < 0.0;
    double amplitude = 0.0;
    if (const int code = peak_for(sample_type::f32, tone.level_kind, inverted ? -tone.level : tone.level, amplitude))
        return code;
    out.frequency = tone.frequency;
    out.amplitude = inverted ? -amplitude : amplitude;
    if (!std::isfinite(tone.phase) || std::fabs(tone.phase) > 2147483648.0)
        return PURETONE_ERROR_TONE;
    out.phase = tone.phase;
    const std::uint32_t every = (std::uint32_t{1} << format.channels) - 1;
    if ((tone.channels & ~every) != 0)
        return PURETONE_ERROR_TONE;
    out.channels = tone.channels == 0 ? every : tone.channels;
    return PURETONE_OK;
}

// The size of puretone_signal in 0.6, before the sweep's fields.
constexpr std::size_t signal_size_without_sweep = offsetof(puretone_signal, sweep);

// The sweep's terms, checked: PURETONE_ERROR_SWEEP for a kind not known,
// tones beside it, no length, frequencies out of order or beyond R / 2, a
// ratio f2 / f1 above 2^40, or a synchronized sweep whose f1 L rounds to 0
// or to 2^53 or more, or whose length leaves 1 .. 2^31.
int read_sweep(const puretone_signal& description, const tone_format& format, signal_shape& shape)
{
    sweep_terms terms{};
    switch (description.sweep) {
    case PURETONE_SWEEP_EXPONENTIAL: terms.kind = sweep_kind::exponential; break;
    case PURETONE_SWEEP_SYNCHRONIZED: terms.kind = sweep_kind::synchronized; break;
    case PURETONE_SWEEP_LINEAR: terms.kind = sweep_kind::linear; break;
    default: return PURETONE_ERROR_SWEEP;
    }
    const double f1 = description.sweep_from, f2 = description.sweep_to, nyquist = format.rate / 2.0;
    if (description.tone_count != 0 || shape.length == 0 || !(std::fabs(f1) <= nyquist)
        || !(std::fabs(f2) <= nyquist) || f1 == f2)
        return PURETONE_ERROR_SWEEP;
    if (terms.kind != sweep_kind::linear && !(f1 > 0 && f1 < f2 && f2 <= f1 * 0x1p40))
        return PURETONE_ERROR_SWEEP;
    terms.f1 = f1;
    terms.f2 = f2;
    terms.rate = static_cast<std::uint32_t>(format.rate);
    terms.frames = shape.length;
    if (terms.kind == sweep_kind::synchronized) {
        std::int64_t cycles = 0, frames = 0;
        if (!synchronized_length(f1, f2, terms.rate, shape.length, cycles, frames) || cycles >= (std::int64_t{1} << 53)
            || frames < 1 || frames > index_end)
            return PURETONE_ERROR_SWEEP;
        terms.whole_cycles = cycles;
        terms.frames = frames;
        shape.length = frames;
    }
    if (!plan_sweep(terms, shape.sweep))
        return PURETONE_ERROR_UNSETTLED;
    shape.swept = true;
    return PURETONE_OK;
}

}  // namespace

int read_signal(const puretone_signal* description, const tone_format& format, signal_shape& shape)
{
    if (description == nullptr || description->size < signal_size_without_sweep
        || (description->size > sizeof(puretone_signal)
            && !known_fields_only(description, description->size, sizeof(puretone_signal)))
        || description->tone_size < sizeof(puretone_tone) || description->tone_size > largest_description
        || description->reserved != 0)
        return PURETONE_ERROR_DESCRIPTION;
    // A 0.6 caller's record ends before the sweep: the rest reads as zero.
    puretone_signal whole{};
    std::memcpy(&whole, description, std::min<std::size_t>(description->size, sizeof whole));
    if (whole.reserved2 != 0)
        return PURETONE_ERROR_DESCRIPTION;
    shape.swept = false;
    if (description->tone_count > most_tones)
        return PURETONE_ERROR_TONE;
    if (description->tone_count > 0 && description->tones == nullptr)
        return PURETONE_ERROR_NULL;
    shape.tone_count = description->tone_count;
    const auto* records = reinterpret_cast<const unsigned char*>(description->tones);
    for (std::uint32_t k = 0; k < shape.tone_count; ++k) {
        const unsigned char* record = records + std::size_t{k} * description->tone_size;
        if (!known_fields_only(record, description->tone_size, sizeof(puretone_tone)))
            return PURETONE_ERROR_DESCRIPTION;
        puretone_tone tone;
        std::memcpy(&tone, record, sizeof tone);  // the caller's array may be of a larger record
        if (const int code = read_tone(tone, format, shape.tones[k]))
            return code;
    }
    for (std::uint32_t c = 0; c < format.channels; ++c) {
        double sum = 0.0;
        for (std::uint32_t k = 0; k < shape.tone_count; ++k)
            if (shape.tones[k].channels >> c & 1)
                sum = sum + std::fabs(shape.tones[k].amplitude);
        if (!(sum <= 1.0))
            return PURETONE_ERROR_SUM;
    }
    if (description->length < 0 || description->length > index_end)
        return PURETONE_ERROR_FRAME_COUNT;
    shape.length = description->length;
    if (whole.sweep != PURETONE_SWEEP_NONE)
        if (const int code = read_sweep(whole, format, shape))
            return code;
    const std::int64_t longest = shape.length > 0 ? shape.length : index_end;
    if (description->fade_in < 0 || description->fade_in > longest || description->fade_out < 0
        || description->fade_out > longest || (description->fade_out > 0 && shape.length == 0))
        return PURETONE_ERROR_FADE;
    shape.fade_in = description->fade_in;
    shape.fade_out = description->fade_out;
    return PURETONE_OK;
}

bool is_plain_tone(const signal_shape& shape, const tone_format& format)
{
    const std::uint32_t every = (std::uint32_t{1} << format.channels) - 1;
    return shape.tone_count == 1 && shape.tones[0].amplitude == 1.0 && shape.tones[0].phase == 0.0
           && shape.tones[0].channels == every;
}

}  // namespace puretone
