// Signals, block by block: the interval pass over every frame of a block,
// then the frames it leaves open, made again exactly. Proofs in
// signal_stream.hpp; the kernel's in sine_kernel.hpp.
#include "lib/signal_stream.hpp"

#include "lib/accurate_sine.hpp"
#include "lib/exact_sine.hpp"
#include "lib/sine_kernel.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace puretone {
namespace {

constexpr double pi = 3.141592653589793;

// Frames a block: its intervals, two doubles a channel and frame, are 4 KiB
// of stack for eight channels.
constexpr std::int32_t signal_block = 32;

struct block_intervals {
    double low[most_channels][signal_block];
    double high[most_channels][signal_block];
};

// The fade's angle for frame i of a fade of n frames: RN(RN(RN(i / n) *
// 0.5) * pi), in [0, pi/2).
double fade_angle(std::int64_t index, std::int64_t frames)
{
    double q = static_cast<double>(index) / static_cast<double>(frames);
    q = q * 0.5;
    return q * pi;
}

// Brackets of RN(sin t) for `count` angles, each within the reduction's
// domain; `far` where any is beyond half_turn_domain.
template <bool far>
void sine_brackets(const double* angles, double* low, double* high, std::size_t count, double bound)
{
    for (std::size_t k = 0; k < count; ++k) {
        const half_turn_angle reduced = kernel_reduction<fast_fma, far>(angles[k]);
        const sine_and_peak estimate = kernel_estimate<fast_fma>(fine_kernel, reduced);
        const sine_bracket bracket = narrowed_bracket(estimate.sine, bound, estimate.peak, peak_distance_bound);
        low[k] = bracket.low;
        high[k] = bracket.high;
    }
}

void brackets_of(const double* angles, double* low, double* high, std::size_t count, double bound)
{
    // |t| is monotonic along a block (each step of the angle is), so its
    // ends hold the largest.
    if (std::max(std::fabs(angles[0]), std::fabs(angles[count - 1])) > half_turn_domain)
        return sine_brackets<true>(angles, low, high, count, bound);
    sine_brackets<false>(angles, low, high, count, bound);
}

// Multiplies every channel's interval at frame k by the gain's, [gl, gh]
// within [0, 1]: the corners' least and greatest.
void apply_gains(block_intervals& y, std::uint32_t channels, std::size_t count, const double* gain_low,
                 const double* gain_high)
{
    for (std::uint32_t c = 0; c < channels; ++c)
        for (std::size_t k = 0; k < count; ++k) {
            const double a = y.low[c][k] * gain_low[k], b = y.low[c][k] * gain_high[k];
            const double d = y.high[c][k] * gain_low[k], e = y.high[c][k] * gain_high[k];
            y.low[c][k] = std::min(std::min(a, b), std::min(d, e));
            y.high[c][k] = std::max(std::max(a, b), std::max(d, e));
        }
}

// The gains of a fade of `frames` frames at positions position[k] (each
// below `frames`, or -1 for a gain of 1): u = RN(sin θ) lies in its
// bracket, clamped to [0, 1] (θ in [0, pi/2)), and g = RN(u u) between
// the squares of its ends.
void fade_gains(const std::int64_t* position, std::int64_t frames, double* low, double* high, std::size_t count,
                double bound)
{
    double angles[signal_block];  // all of them set, though only `count` are used: no warning of a false read
    for (std::size_t k = 0; k < signal_block; ++k)
        angles[k] = k >= count || position[k] < 0 ? pi / 2 : fade_angle(position[k], frames);
    sine_brackets<false>(angles, low, high, count, bound);
    for (std::size_t k = 0; k < count; ++k) {
        const double u_low = std::clamp(low[k], 0.0, 1.0), u_high = std::clamp(high[k], 0.0, 1.0);
        const bool outside = position[k] < 0;
        low[k] = outside ? 1.0 : u_low * u_low;
        high[k] = outside ? 1.0 : u_high * u_high;
    }
}

// RN(sin t) from the accurate path; `unsettled` where it left one open.
double exact_sine_of(double angle, bool& unsettled)
{
    const accurate_result sine = accurate_sine(angle);
    if (sine.precision == -1)
        unsettled = true;
    return sine.value;
}

double exact_gain(std::int64_t position, std::int64_t frames, bool& unsettled)
{
    const double u = exact_sine_of(fade_angle(position, frames), unsettled);
    return u * u;
}

// Frame `index` made from the correctly rounded sines, in the fixed order.
template <class Sample>
void exact_frame(std::int64_t index, const signal_shape& shape, const tone_format& format, Sample* frame,
                 bool& unsettled)
{
    double sines[most_tones];
    for (std::uint32_t k = 0; k < shape.tone_count; ++k)
        sines[k] = exact_sine_of(signal_angle(index, shape.tones[k], format.rate), unsettled);
    const bool fading_in = index < shape.fade_in;
    const std::int64_t from_end = shape.length - 1 - index;
    const bool fading_out = shape.fade_out > 0 && from_end < shape.fade_out;
    const double gain_in = fading_in ? exact_gain(index, shape.fade_in, unsettled) : 1.0;
    const double gain_out = fading_out ? exact_gain(from_end, shape.fade_out, unsettled) : 1.0;
    for (std::uint32_t c = 0; c < format.channels; ++c) {
        double y = 0.0;
        bool started = false;
        for (std::uint32_t k = 0; k < shape.tone_count; ++k) {
            if ((shape.tones[k].channels >> c & 1) == 0)
                continue;
            const double term = shape.tones[k].amplitude * sines[k];
            y = started ? y + term : term;
            started = true;
        }
        if (fading_in)
            y = gain_in * y;
        if (fading_out)
            y = gain_out * y;
        frame[c] = scale_sample<Sample>(y, format.peak);
    }
}

template <class Sample>
void signal_block_frames(std::int64_t first, std::size_t count, const signal_shape& shape,
                         const tone_format& format, Sample* out, double bound, bool& unsettled)
{
    block_intervals y;
    bool started[most_channels] = {};
    double angles[signal_block], low[signal_block], high[signal_block];
    for (std::uint32_t k = 0; k < shape.tone_count; ++k) {
        const signal_tone& tone = shape.tones[k];
        for (std::size_t j = 0; j < count; ++j)
            angles[j] = signal_angle(first + static_cast<std::int64_t>(j), tone, format.rate);
        brackets_of(angles, low, high, count, bound);
        // RN(a s) for s in [low, high], a a point: the ends' products, in
        // order for a >= 0, swapped for a < 0.
        const double a = tone.amplitude;
        for (std::size_t j = 0; j < count; ++j) {
            const double from_low = a * low[j], from_high = a * high[j];
            low[j] = a < 0 ? from_high : from_low;
            high[j] = a < 0 ? from_low : from_high;
        }
        for (std::uint32_t c = 0; c < format.channels; ++c) {
            if ((tone.channels >> c & 1) == 0)
                continue;
            for (std::size_t j = 0; j < count; ++j) {
                y.low[c][j] = started[c] ? y.low[c][j] + low[j] : low[j];
                y.high[c][j] = started[c] ? y.high[c][j] + high[j] : high[j];
            }
            started[c] = true;
        }
    }
    for (std::uint32_t c = 0; c < format.channels; ++c)
        if (!started[c])
            std::fill_n(y.low[c], count, 0.0), std::fill_n(y.high[c], count, 0.0);
    // Fades, only in the blocks they reach.
    const std::int64_t last = first + static_cast<std::int64_t>(count) - 1;
    std::int64_t position[signal_block];
    if (first < shape.fade_in) {
        for (std::size_t j = 0; j < count; ++j) {
            const std::int64_t index = first + static_cast<std::int64_t>(j);
            position[j] = index < shape.fade_in ? index : -1;
        }
        fade_gains(position, shape.fade_in, low, high, count, bound);
        apply_gains(y, format.channels, count, low, high);
    }
    if (shape.fade_out > 0 && shape.length - 1 - last < shape.fade_out) {
        for (std::size_t j = 0; j < count; ++j) {
            const std::int64_t from_end = shape.length - 1 - (first + static_cast<std::int64_t>(j));
            position[j] = from_end < shape.fade_out ? from_end : -1;
        }
        fade_gains(position, shape.fade_out, low, high, count, bound);
        apply_gains(y, format.channels, count, low, high);
    }
    // The samples: settled where both ends agree. |y| <= 1 (the sums are
    // checked), so the ends are clamped there, which keeps P times them
    // below 2^31 for the integer formats. Intervals order -0 and +0 as one
    // number, while f32 files tell them apart: an end at zero, where y
    // might be either, leaves a float sample open (a channel with no tone
    // is +0 exactly, and times a gain stays so).
    for (std::size_t j = 0; j < count; ++j) {
        Sample* frame = out + j * format.channels;
        bool open = false;
        for (std::uint32_t c = 0; c < format.channels; ++c) {
            const double y_low = y.low[c][j], y_high = y.high[c][j];
            const Sample from_low = scale_sample<Sample>(std::clamp(y_low, -1.0, 1.0), format.peak);
            const Sample from_high = scale_sample<Sample>(std::clamp(y_high, -1.0, 1.0), format.peak);
            frame[c] = from_low;
            const bool zero_end = is_float_sample<Sample> && started[c] && (y_low == 0 || y_high == 0);
            open = open || zero_end || !same_sample(from_low, from_high);
        }
        if (open)
            exact_frame(first + static_cast<std::int64_t>(j), shape, format, frame, unsettled);
    }
}

}  // namespace

double signal_angle(std::int64_t index, const signal_tone& tone, double rate)
{
    double c = static_cast<double>(index) / rate;
    c = c * tone.frequency;
    if (tone.phase != 0.0)  // skipped at phase 0, so that -0 stays -0
        c = c + tone.phase;
    c = c * 2.0;
    return c * pi;
}

template <class Sample>
bool signal_frames(std::int64_t first, std::int64_t count, const signal_shape& shape, const tone_format& format,
                   Sample* out, const block_plan& plan)
{
    const double bound = plan.first_bound != 0 ? plan.first_bound : fine_kernel.total_bound;
    bool unsettled = false;
    for (std::int64_t done = 0; done < count; done += signal_block) {
        const auto size = static_cast<std::size_t>(std::min<std::int64_t>(signal_block, count - done));
        signal_block_frames(first + done, size, shape, format, out + done * format.channels, bound, unsettled);
    }
    return !unsettled;
}

template bool signal_frames<std::int16_t>(std::int64_t, std::int64_t, const signal_shape&, const tone_format&,
                                          std::int16_t*, const block_plan&);
template bool signal_frames<std::int32_t>(std::int64_t, std::int64_t, const signal_shape&, const tone_format&,
                                          std::int32_t*, const block_plan&);
template bool signal_frames<float>(std::int64_t, std::int64_t, const signal_shape&, const tone_format&, float*,
                                   const block_plan&);

}  // namespace puretone
