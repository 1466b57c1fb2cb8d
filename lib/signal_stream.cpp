// Signals, block by block. Channels that hold the same tones hold the same
// samples, so each set of them (a class) is made once and copied. For each
// class and block of frames: every tone's bracketed terms summed into the
// class's intervals, on vectors (a copy of the loops for each instruction
// set, as for tones); the fades' gains where a fade reaches the block; the
// rounding test, which marks the frames it leaves open; those made again
// exactly. A sweep is one class of every channel, its bracket from its
// phase in turns (sweep_phase.hpp). Proofs in signal_stream.hpp; the
// kernel's in sine_kernel.hpp.
#include "lib/signal_stream.hpp"

#include "lib/accurate_sine.hpp"
#include "lib/exact_sine.hpp"
#include "lib/sine_kernel.hpp"
#include "lib/sweep_accurate.hpp"
#include "lib/sweep_phase.hpp"
#include "lib/vector_copies.hpp"

#if PURETONE_VECTOR
#include "lib/cpu_features.hpp"
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <type_traits>

namespace puretone {
namespace {

constexpr double pi = 3.141592653589793;

// Open frames of a block that are made exactly without a narrowed pass
// first: each costs some 70 ns a tone (the double-double sine), a narrowed
// pass over the block about as much.
constexpr std::int32_t most_exact_frames = 2;

// Frames a block: five arrays of doubles, 5 KiB, with the samples and marks
// beside them, well inside a 16 KiB thread stack with the accurate path on
// top.
constexpr std::size_t signal_block = 128;

struct interval {
    double low, high;
};

// The bracket of RN(sin t) from an estimate within `bound`: RN is
// monotonic, so RN(sin t) lies in [RN(y - E), RN(y + E)]. Not clamped to
// [-1, 1] here: the rounding test clamps the sums. (A clamp to a constant
// lets the compiler move the product after it into a branch, and then it
// makes no vector code of the loop.)
[[gnu::always_inline]] inline interval plain_bracket(double sine, double bound)
{
    return {sine - bound, sine + bound};
}

// The same, narrowed at a peak by the kernel's peak distance
// (exact_sine.hpp): to +-1 exactly, or within +-(1 - 2^-53). Without it a
// tone at full amplitude, alone in its channel (a cosine, say), would be
// open at every peak.
[[gnu::always_inline]] inline interval peak_bracket(sine_and_peak estimate, double bound)
{
    const sine_bracket s = narrowed_bracket(estimate.sine, bound, estimate.peak, peak_distance_bound);
    return {s.low, s.high};
}

// RN(a s) over s in [sl, sh] runs between RN(a sl) and RN(a sh), in either
// order by a's sign.
[[gnu::always_inline]] inline interval scaled(double a, interval s)
{
    const double from_low = a * s.low, from_high = a * s.high;
    return {std::min(from_low, from_high), std::max(from_low, from_high)};
}

// RN(g y) for g in [gl, gh] within [0, 1]: between the least and the
// greatest of the four corners' products.
[[gnu::always_inline]] inline interval gained(interval g, interval y)
{
    const double a = y.low * g.low, b = y.low * g.high, c = y.high * g.low, d = y.high * g.high;
    return {std::min(std::min(a, b), std::min(c, d)), std::max(std::max(a, b), std::max(c, d))};
}

// A tone's angle t = ((i / R) * f [+ p]) * 2 * pi, in the formula's order,
// from time = RN(i / R). The phase is added where p != 0 (`phased`), and
// skipped at 0, so that -0 stays -0.
template <bool phased>
[[gnu::always_inline]] inline double angle_at(double time, const signal_tone& tone)
{
    double c = time * tone.frequency;
    if constexpr (phased)
        c = c + tone.phase;
    c = c * 2.0;
    return c * pi;
}

// The angles of a block's frames, from times[j] = RN(i / R).
template <bool phased>
[[gnu::always_inline]] inline void tone_angles(const signal_tone& tone, const double* __restrict times,
                                               double* __restrict angles, std::size_t count)
{
    for (std::size_t j = 0; j < count; ++j)
        angles[j] = angle_at<phased>(times[j], tone);
}

// One tone's terms RN(a s), as brackets (`narrowed` at the peaks), summed
// into [low, high] (`add`), or setting them (the class's first tone). times[j] = RN(i / R) for frame
// i = first + j, shared by the tones; x and sign hold the reduced angles
// between the loops, whose chains are then short (sine_kernel.hpp).
template <bool fused, bool far, bool phased, bool add, bool narrowed, class Kernel>
[[gnu::always_inline]] inline void tone_terms(const Kernel& kernel, const signal_tone& tone, double bound,
                                              const double* __restrict times, double* __restrict low,
                                              double* __restrict high, double* __restrict x,
                                              double* __restrict sign, std::size_t count)
{
    tone_angles<phased>(tone, times, x, count);
    for (std::size_t j = 0; j < count; ++j) {
        const half_turn_angle reduced = kernel_reduction<fused, far>(x[j]);
        x[j] = reduced.x;
        sign[j] = reduced.sign;
    }
    const double a = tone.amplitude;
    for (std::size_t j = 0; j < count; ++j) {
        const sine_and_peak estimate = kernel_estimate<fused>(kernel, {x[j], sign[j]});
        const interval s = narrowed ? peak_bracket(estimate, bound) : plain_bracket(estimate.sine, bound);
        const interval term = scaled(a, s);
        low[j] = add ? low[j] + term.low : term.low;
        high[j] = add ? high[j] + term.high : term.high;
    }
}

// The same for f32 near angles, from estimates whose bound is relative to
// the sine (sine_kernel.hpp, relative_estimate): within relative |y| +
// absolute, or `least` where a test raises it. A tone at a level below 1
// crosses zero where an absolute bound (2^-48.7) cannot tell which float
// a sample rounds to; this one can, as for tones. No narrowing at peaks:
// there the two ends give the same float (1 - 2^-48 rounds to 1).
template <bool fused, bool phased, bool add>
[[gnu::always_inline]] inline void relative_terms(const signal_tone& tone, double least,
                                                  const double* __restrict times, double* __restrict low,
                                                  double* __restrict high, double* __restrict x,
                                                  double* __restrict small, std::size_t count)
{
    tone_angles<phased>(tone, times, x, count);
    for (std::size_t j = 0; j < count; ++j) {
        const half_turn_pair reduced = reduce_half_turns_precisely<fused>(x[j]);
        x[j] = with_sign(reduced.c, reduced.sign);
        small[j] = with_sign(reduced.rl, reduced.sign);
    }
    const estimate_bound own = relative_bound(float_kernel, false);
    const double a = tone.amplitude;
    for (std::size_t j = 0; j < count; ++j) {
        const double sine = relative_estimate<fused>(float_kernel, x[j], small[j]);
        const interval term = scaled(a, plain_bracket(sine, std::max(bound_of(own, sine), least)));
        low[j] = add ? low[j] + term.low : term.low;
        high[j] = add ? high[j] + term.high : term.high;
    }
}

template <bool fused, class Kernel>
[[gnu::always_inline]] inline void tone_terms_for(const Kernel& kernel, const signal_tone& tone, double bound,
                                                  bool add, bool narrowed, const double* times, double* low,
                                                  double* high, double* x, double* sign, std::size_t count, bool far)
{
    const int choice = far * 8 + (tone.phase != 0) * 4 + add * 2 + narrowed;
#define PURETONE_TERMS(far_, phased_, add_, narrowed_) \
    tone_terms<fused, far_, phased_, add_, narrowed_>(kernel, tone, bound, times, low, high, x, sign, count)
    switch (choice) {
    case 0: return PURETONE_TERMS(false, false, false, false);
    case 1: return PURETONE_TERMS(false, false, false, true);
    case 2: return PURETONE_TERMS(false, false, true, false);
    case 3: return PURETONE_TERMS(false, false, true, true);
    case 4: return PURETONE_TERMS(false, true, false, false);
    case 5: return PURETONE_TERMS(false, true, false, true);
    case 6: return PURETONE_TERMS(false, true, true, false);
    case 7: return PURETONE_TERMS(false, true, true, true);
    case 8: return PURETONE_TERMS(true, false, false, false);
    case 9: return PURETONE_TERMS(true, false, false, true);
    case 10: return PURETONE_TERMS(true, false, true, false);
    case 11: return PURETONE_TERMS(true, false, true, true);
    case 12: return PURETONE_TERMS(true, true, false, false);
    case 13: return PURETONE_TERMS(true, true, false, true);
    case 14: return PURETONE_TERMS(true, true, true, false);
    default: return PURETONE_TERMS(true, true, true, true);
    }
#undef PURETONE_TERMS
}

// Which estimates a signal's terms take: the coarse kernel, the fine one,
// or for f32 the fine one with a bound relative to the sine (beyond
// half_turn_domain, where the reduction errs in absolute terms, the fine
// one with its absolute bound).
enum class estimates { coarse, fine, relative };

template <bool fused>
[[gnu::always_inline]] inline void tone_terms_with(estimates kind, const signal_tone& tone, double bound, bool add,
                                                   bool narrowed, const double* times, double* low, double* high,
                                                   double* x, double* sign, std::size_t count, bool far)
{
    if (kind == estimates::coarse)
        return tone_terms_for<fused>(coarse_kernel, tone, bound, add, narrowed, times, low, high, x, sign, count, far);
    if (kind == estimates::fine || far) {
        const double fine_bound = std::max(bound, fine_kernel.total_bound);  // relative's `bound` is the least
        return tone_terms_for<fused>(fine_kernel, tone, fine_bound, add, narrowed, times, low, high, x, sign, count,
                                     far);
    }
    // `bound` is the least, 0 unless a test raises it.
    const int choice = (tone.phase != 0) * 2 + add;
    switch (choice) {
    case 0: return relative_terms<fused, false, false>(tone, bound, times, low, high, x, sign, count);
    case 1: return relative_terms<fused, false, true>(tone, bound, times, low, high, x, sign, count);
    case 2: return relative_terms<fused, true, false>(tone, bound, times, low, high, x, sign, count);
    default: return relative_terms<fused, true, true>(tone, bound, times, low, high, x, sign, count);
    }
}

#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,fma"))) void
tone_terms_avx512(estimates kind, const signal_tone& tone, double bound, bool add, bool narrowed, const double* times,
                  double* low, double* high, double* x, double* sign, std::size_t count, bool far)
{
    tone_terms_with<true>(kind, tone, bound, add, narrowed, times, low, high, x, sign, count, far);
}

__attribute__((target("avx2,fma"))) void tone_terms_avx2(estimates kind, const signal_tone& tone, double bound, bool add,
                                                         bool narrowed, const double* times, double* low,
                                                         double* high, double* x, double* sign, std::size_t count,
                                                         bool far)
{
    tone_terms_with<true>(kind, tone, bound, add, narrowed, times, low, high, x, sign, count, far);
}
#endif

// Adds one tone's terms for frames first .. first + count - 1, by the
// estimates `kind`, within `bound` (the kernel's, or a larger one; for
// relative estimates, the least bound).
void add_tone_terms(estimates kind, const signal_tone& tone, std::int32_t first, double rate, double bound, bool add,
                    bool narrowed, const double* times, double* low, double* high, double* x, double* sign,
                    std::size_t count)
{
    // |t| is monotonic along a block (each step of the angle is), so its
    // ends hold the largest.
    const std::int32_t last = first + static_cast<std::int32_t>(count - 1);
    const bool far = std::max(std::fabs(signal_angle(first, tone, rate)), std::fabs(signal_angle(last, tone, rate)))
                     > half_turn_domain;
#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
    switch (widest_kernel_isa()) {
    case kernel_isa::avx512_fma:
        return tone_terms_avx512(kind, tone, bound, add, narrowed, times, low, high, x, sign, count, far);
    case kernel_isa::avx2_fma:
        return tone_terms_avx2(kind, tone, bound, add, narrowed, times, low, high, x, sign, count, far);
    case kernel_isa::baseline:
        break;
    }
#endif
    tone_terms_with<fast_fma>(kind, tone, bound, add, narrowed, times, low, high, x, sign, count, far);
}

// A sweep's brackets from its turns (sweep_phase.hpp): t = RN(x 2pi) with
// the double 2pi errs from 2 pi times the exact turns by at most 2 pi times
// x's bound, |x| |2pi - 2 pi| < 2^-52.8 and the product's rounding, 2^-52
// (|t| < 4): below 7 bound + 2^-51. The kernel reduces t by half turns
// within its own bound, and sin has a slope of at most 1.
constexpr double two_pi_double = 6.283185307179586;
constexpr double sweep_angle_rounding = 0x1p-51;

// The turns are reduced in place: turns[j] becomes the reduced angle x.
template <bool fused, class Kernel>
[[gnu::always_inline]] inline void sweep_terms(const Kernel& kernel, double bound, double* __restrict turns,
                                               double* __restrict low, double* __restrict high,
                                               double* __restrict sign, std::size_t count)
{
    for (std::size_t j = 0; j < count; ++j) {
        const half_turn_angle reduced = kernel_reduction<fused, false>(turns[j] * two_pi_double);
        turns[j] = reduced.x;
        sign[j] = reduced.sign;
    }
    for (std::size_t j = 0; j < count; ++j) {
        const double sine = kernel_estimate<fused>(kernel, {turns[j], sign[j]}).sine;
        low[j] = sine - bound;
        high[j] = sine + bound;
    }
}

template <bool fused>
[[gnu::always_inline]] inline void sweep_terms_with(bool coarse, double bound, double* turns, double* low,
                                                    double* high, double* sign, std::size_t count)
{
    if (coarse)
        sweep_terms<fused>(coarse_kernel, bound, turns, low, high, sign, count);
    else
        sweep_terms<fused>(fine_kernel, bound, turns, low, high, sign, count);
}

#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,fma"))) void
sweep_terms_avx512(bool coarse, double bound, double* turns, double* low, double* high, double* sign,
                   std::size_t count)
{
    sweep_terms_with<true>(coarse, bound, turns, low, high, sign, count);
}

__attribute__((target("avx2,fma"))) void sweep_terms_avx2(bool coarse, double bound, double* turns, double* low,
                                                          double* high, double* sign, std::size_t count)
{
    sweep_terms_with<true>(coarse, bound, turns, low, high, sign, count);
}
#endif

void add_sweep_terms(bool coarse, double bound, double* turns, double* low, double* high, double* sign,
                     std::size_t count)
{
#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
    switch (widest_kernel_isa()) {
    case kernel_isa::avx512_fma:
        return sweep_terms_avx512(coarse, bound, turns, low, high, sign, count);
    case kernel_isa::avx2_fma:
        return sweep_terms_avx2(coarse, bound, turns, low, high, sign, count);
    case kernel_isa::baseline:
        break;
    }
#endif
    sweep_terms_with<fast_fma>(coarse, bound, turns, low, high, sign, count);
}

// The fade's angle at position i of a fade of n frames: RN(RN(RN(i / n) *
// 0.5) * pi), in [0, pi/2).
double fade_angle(std::int64_t position, std::int64_t frames)
{
    double q = static_cast<double>(position) / static_cast<double>(frames);
    q = q * 0.5;
    return q * pi;
}

// The gain g = RN(u u) at `position` of a fade of `frames` frames: u =
// RN(sin θ) lies in its bracket, within [0, 1] (θ in [0, pi/2)), and g
// between the squares of its ends.
interval gain_interval(std::int64_t position, std::int64_t frames, double bound)
{
    const double angle = fade_angle(position, frames);
    const sine_and_peak u = kernel_estimate<fast_fma>(fine_kernel, kernel_reduction<fast_fma, false>(angle));
    const interval bracket = plain_bracket(u.sine, bound);
    const double low = std::max(bracket.low, 0.0), high = bracket.high;
    return {low * low, high * high};
}

// Where a fade's gain applies to frame `index`: its position, or -1.
std::int64_t fade_in_position(const signal_shape& shape, std::int64_t index)
{
    return index < shape.fade_in ? index : -1;
}

std::int64_t fade_out_position(const signal_shape& shape, std::int64_t index)
{
    const std::int64_t from_end = shape.length - 1 - index;
    return shape.fade_out > 0 && from_end < shape.fade_out ? from_end : -1;
}

// Applies the fades' gains, where they reach frame `index`, to y.
interval faded(const signal_shape& shape, std::int64_t index, double bound, interval y)
{
    if (const std::int64_t at = fade_in_position(shape, index); at >= 0)
        y = gained(gain_interval(at, shape.fade_in, bound), y);
    if (const std::int64_t at = fade_out_position(shape, index); at >= 0)
        y = gained(gain_interval(at, shape.fade_out, bound), y);
    return y;
}

// The rounding test on a class's block: samples[j] from the low end, and
// marks[j] where the high end gives another sample. |y| <= 1 (the sums are
// checked), so the ends are clamped there, which keeps P times them below
// 2^31. The clamp is taken after the product, to [-P, P]: RN is monotonic
// and RN(P * 1) = P, so RN(P * clamp(y, -1, 1)) = clamp(RN(P * y), -P, P),
// and a clamp to P, not a constant, leaves the loop on vectors. Intervals
// order -0 and +0 as one number, while f32 tells them apart: an end at
// zero, where y might be either, leaves a float sample open
// (`signed_zeros`; a class with no tone is +0 exactly, and stays so times a
// gain).
template <class Sample>
[[gnu::always_inline]] inline std::int32_t settle_pass(const double* low, const double* high, Sample* samples,
                                                       std::uint8_t* marks, std::size_t count, double peak,
                                                       bool signed_zeros)
{
    std::int32_t open = 0;
    for (std::size_t j = 0; j < count; ++j) {
        const double scaled_low = std::clamp(low[j] * peak, -peak, peak);
        const double scaled_high = std::clamp(high[j] * peak, -peak, peak);
        bool left;
        if constexpr (is_float_sample<Sample>) {
            const auto from_low = static_cast<float>(scaled_low), from_high = static_cast<float>(scaled_high);
            samples[j] = from_low;
            // Bitwise, not short-circuit: a branch here keeps the loop off vectors.
            left = (!same_sample(from_low, from_high)) | (signed_zeros & ((low[j] == 0) | (high[j] == 0)));
        } else {
            const auto from_low = static_cast<std::int32_t>(scaled_low);
            const auto from_high = static_cast<std::int32_t>(scaled_high);
            samples[j] = from_low;
            left = from_low != from_high;
        }
        marks[j] = left;
        open += left;
    }
    return open;
}

// RN(i / R) for the block's frames, shared by its classes and tones.
PURETONE_VECTOR_CLONES
void block_times(std::int32_t first, double rate, double* times, std::size_t count)
{
    for (std::size_t j = 0; j < count; ++j)
        times[j] = static_cast<double>(first + static_cast<std::int32_t>(j)) / rate;
}

PURETONE_VECTOR_CLONES
std::int32_t settle_signal(const double* low, const double* high, std::int32_t* samples, std::uint8_t* marks,
                           std::size_t count, double peak)
{
    return settle_pass(low, high, samples, marks, count, peak, false);
}

PURETONE_VECTOR_CLONES
std::int32_t settle_signal(const double* low, const double* high, float* samples, std::uint8_t* marks,
                           std::size_t count, double peak, bool signed_zeros)
{
    return settle_pass(low, high, samples, marks, count, peak, signed_zeros);
}

// A channel class: the tones its channels hold (a mask over the tones) and
// the channels.
struct channel_class {
    std::uint32_t tones;
    std::uint32_t channels;
};

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

// y times the fades' gains where they reach frame `index`, in the fixed
// order.
double exactly_faded(const signal_shape& shape, std::int64_t index, double y, bool& unsettled)
{
    if (const std::int64_t at = fade_in_position(shape, index); at >= 0)
        y = exact_gain(at, shape.fade_in, unsettled) * y;
    if (const std::int64_t at = fade_out_position(shape, index); at >= 0)
        y = exact_gain(at, shape.fade_out, unsettled) * y;
    return y;
}

// The class's sample at frame `index`, from the correctly rounded sines, in
// the fixed order.
template <class Sample>
Sample exact_sample(std::int64_t index, const signal_shape& shape, const tone_format& format,
                    const channel_class& group, bool& unsettled)
{
    double y = 0.0;
    bool started = false;
    for (std::uint32_t k = 0; k < shape.tone_count; ++k) {
        if ((group.tones >> k & 1) == 0)
            continue;
        const double sine = exact_sine_of(signal_angle(index, shape.tones[k], format.rate), unsettled);
        const double term = shape.tones[k].amplitude * sine;
        y = started ? y + term : term;
        started = true;
    }
    return scale_sample<Sample>(exactly_faded(shape, index, y, unsettled), format.peak);
}

template <class Sample>
Sample exact_sweep_sample(std::int64_t index, const signal_shape& shape, const tone_format& format, bool& unsettled)
{
    const double y = exact_sweep_sine(shape.sweep, index, unsettled);
    return scale_sample<Sample>(exactly_faded(shape, index, y, unsettled), format.peak);
}

// The classes of a signal's channels, in the order of their first channel.
std::uint32_t channel_classes(const signal_shape& shape, const tone_format& format, channel_class* classes)
{
    std::uint32_t count = 0;
    for (std::uint32_t c = 0; c < format.channels; ++c) {
        std::uint32_t tones = 0;
        for (std::uint32_t k = 0; k < shape.tone_count; ++k)
            tones |= (shape.tones[k].channels >> c & 1) << k;
        std::uint32_t m = 0;
        while (m < count && classes[m].tones != tones)
            ++m;
        if (m == count)
            classes[count++] = {tones, 0};
        classes[m].channels |= std::uint32_t{1} << c;
    }
    return count;
}

struct block_arrays {
    alignas(64) double times[signal_block];  // RN(i / R), for every class and tone
    alignas(64) double low[signal_block];
    alignas(64) double high[signal_block];
    alignas(64) double x[signal_block];
    alignas(64) double sign[signal_block];
    alignas(64) std::int32_t integers[signal_block];  // or floats, by bits
    alignas(64) std::uint8_t marks[signal_block + 8];  // a last word past a whole block's, cleared
};

// The same for a sweep, which has no tones to share times with.
struct sweep_block_arrays {
    sweep_arrays sweep;
    alignas(64) std::int32_t integers[sweep_block];
    alignas(64) std::uint8_t marks[sweep_block + 8];
};

// Whether every tone of a class has amplitude 0.
bool silent_class(const signal_shape& shape, const channel_class& group)
{
    for (std::uint32_t k = 0; k < shape.tone_count; ++k)
        if ((group.tones >> k & 1) != 0 && shape.tones[k].amplitude != 0)
            return false;
    return true;
}

// How a signal's blocks are made: its kernel and bound.
struct signal_plan {
    estimates kind;
    double bound;       // the terms' (for relative estimates, the least)
    double fade_bound;  // the fades' gains', by the fine kernel
};

// A class's samples, as settled (32-bit integers or floats), into its
// channels of `out`.
template <class Settled, class Sample>
void copy_to_channels(const Settled* samples, std::size_t count, const tone_format& format,
                      const channel_class& group, Sample* out)
{
    if (format.channels == 1) {  // contiguous: a loop on vectors
        for (std::size_t j = 0; j < count; ++j)
            out[j] = static_cast<Sample>(samples[j]);
        return;
    }
    for (std::uint32_t c = 0; c < format.channels; ++c)
        if (group.channels >> c & 1)
            for (std::size_t j = 0; j < count; ++j)
                out[j * format.channels + c] = static_cast<Sample>(samples[j]);
}

// An f32 class whose tones all have amplitude 0: y is a zero, whose sign
// the intervals do not hold. RN(0 s) is -0 where s is negative (or -0),
// else +0; RN(-0 + -0) is -0, and any other sum of zeros +0 (rounding to
// nearest); a gain g >= +0 and the peak P >= +0 keep a zero's sign. So the
// sample is -0 where every tone's RN(sin t) has its sign bit set, else +0,
// and a tone whose bracket holds 0 leaves the frame open.
void silent_block(std::int32_t first, std::size_t count, const signal_shape& shape, const tone_format& format,
                  const channel_class& group, const signal_plan& plan, block_arrays& work, float* out,
                  bool& unsettled)
{
    float* samples = reinterpret_cast<float*>(work.integers);
    std::fill_n(samples, count, -0.0f);
    std::fill_n(work.marks, count + 8, std::uint8_t{0});
    for (std::uint32_t k = 0; k < shape.tone_count; ++k) {
        if ((group.tones >> k & 1) == 0)
            continue;
        signal_tone unit = shape.tones[k];
        unit.amplitude = 1.0;  // the brackets of RN(sin t) themselves
        add_tone_terms(plan.kind, unit, first, format.rate, plan.bound, false, false, work.times, work.low,
                       work.high, work.x, work.sign, count);
        for (std::size_t j = 0; j < count; ++j) {
            samples[j] = work.low[j] > 0 ? 0.0f : samples[j];
            work.marks[j] = work.marks[j] | (work.low[j] <= 0 && work.high[j] >= 0);
        }
    }
    for_each_marked(work.marks, count, [&](std::size_t j) {
        samples[j] = exact_sample<float>(first + static_cast<std::int64_t>(j), shape, format, group, unsettled);
    });
    copy_to_channels(samples, count, format, group, out);
}

// Whether a class's blocks start with the narrowed pass: after a block
// that needed it, and but for every eighth block, so that a class that
// lands on its peaks (a cosine at full level, every 24th frame at 1 kHz
// and 48 kHz) takes one pass a block, not two.
struct narrowing {
    bool first = false;
    std::uint32_t blocks = 0;
};

// One class's frames first .. first + count - 1 (count <= signal_block)
// into its channels of `out`; work.times already holds the block's times.
template <class Sample>
void class_block(std::int32_t first, std::size_t count, const signal_shape& shape, const tone_format& format,
                 const channel_class& group, signal_plan plan, block_arrays& work, Sample* out, narrowing& hint,
                 bool& unsettled)
{
    const bool started = group.tones != 0;
    // Samples are settled as 32-bit integers or floats: in place where the
    // file is mono and its samples are that wide (s24 and s32 are made as
    // 32-bit integers), else in work.integers, and then copied.
    using settled_sample = std::conditional_t<is_float_sample<Sample>, float, std::int32_t>;
    settled_sample* samples = reinterpret_cast<settled_sample*>(work.integers);
    if constexpr (std::is_same_v<settled_sample, Sample>)
        if (format.channels == 1)
            samples = out;
    if constexpr (is_float_sample<Sample>)
        if (started && silent_class(shape, group))
            return silent_block(first, count, shape, format, group, plan, work, out, unsettled);
    // The terms with plain brackets first; where they leave more than a
    // few frames open (peaks on a sample's boundary: a tone at full level
    // alone, a cosine), again with the brackets narrowed at the peaks.
    std::int32_t open = 0;
    const bool narrow_first = hint.first && ++hint.blocks % 8 != 0;
    for (const bool narrowed : {narrow_first, true}) {
        bool added = false;
        for (std::uint32_t k = 0; k < shape.tone_count; ++k) {
            if ((group.tones >> k & 1) == 0)
                continue;
            add_tone_terms(plan.kind, shape.tones[k], first, format.rate, plan.bound, added, narrowed, work.times,
                           work.low, work.high, work.x, work.sign, count);
            added = true;
        }
        if (!started)
            std::fill_n(work.low, count, 0.0), std::fill_n(work.high, count, 0.0);
        // Fades, only in the blocks they reach.
        const std::int64_t last = std::int64_t{first} + static_cast<std::int64_t>(count) - 1;
        if (first < shape.fade_in || fade_out_position(shape, last) >= 0)
            for (std::size_t j = 0; j < count; ++j) {
                const interval y = faded(shape, first + static_cast<std::int64_t>(j), plan.fade_bound,
                                         {work.low[j], work.high[j]});
                work.low[j] = y.low;
                work.high[j] = y.high;
            }
        std::fill_n(work.marks + (count & ~std::size_t{7}), 8, std::uint8_t{0});  // whole words for for_each_marked
        if constexpr (is_float_sample<Sample>)
            open = settle_signal(work.low, work.high, samples, work.marks, count, format.peak, started);
        else
            open = settle_signal(work.low, work.high, samples, work.marks, count, format.peak);
        // f32 takes no narrowing (relative_terms); one exact frame costs
        // about what a narrowed pass over a block does.
        hint.first = narrowed;
        if (open <= most_exact_frames || narrowed || is_float_sample<Sample>)
            break;
    }
    if (open > 0)
        for_each_marked(work.marks, count, [&](std::size_t j) {
            const std::int64_t index = first + static_cast<std::int64_t>(j);
            samples[j] = exact_sample<Sample>(index, shape, format, group, unsettled);
        });
    if (static_cast<void*>(samples) != static_cast<void*>(out))
        copy_to_channels(samples, count, format, group, out);
}

}  // namespace

fade_gains exact_fade_gains(const signal_shape& shape, std::int64_t index, bool& unsettled)
{
    fade_gains gains{1.0, 1.0};
    if (const std::int64_t at = fade_in_position(shape, index); at >= 0)
        gains.in = exact_gain(at, shape.fade_in, unsettled);
    if (const std::int64_t at = fade_out_position(shape, index); at >= 0)
        gains.out = exact_gain(at, shape.fade_out, unsettled);
    return gains;
}

double sweep_brackets(const signal_shape& shape, std::int64_t first, std::size_t count, sweep_steps& steps,
                      bool coarse, double kernel_bound, double fade_bound, sweep_arrays& work)
{
    const double turn_bound = sweep_turns(shape.sweep, first, count, steps, work.turns);
    const double bound = kernel_bound + 7 * turn_bound + sweep_angle_rounding;
    add_sweep_terms(coarse, bound, work.turns, work.low, work.high, work.sign, count);
    const std::int64_t last = first + static_cast<std::int64_t>(count) - 1;
    if (first < shape.fade_in || fade_out_position(shape, last) >= 0)
        for (std::size_t j = 0; j < count; ++j) {
            const interval y =
                faded(shape, first + static_cast<std::int64_t>(j), fade_bound, {work.low[j], work.high[j]});
            work.low[j] = y.low;
            work.high[j] = y.high;
        }
    return bound;
}

double exact_sweep_sine(const sweep_plan& sweep, std::int64_t index, bool& unsettled)
{
    if (const sweep_sine quick = sweep_sine_quick(sweep, index); quick.settled)
        return quick.value;
    const accurate_result sine = accurate_sweep_sine(sweep.terms, index);
    if (sine.precision == -1)
        unsettled = true;
    return sine.value;
}

namespace {

// A sweep's frames first .. first + count - 1 (count <= sweep_block) into
// every channel of `out`: its turns, the brackets, the fades, the rounding
// test, and the open frames made exactly. `steps` from make_sweep_steps.
template <class Sample>
void sweep_frames_block(std::int32_t first, std::size_t count, const signal_shape& shape, const tone_format& format,
                 bool coarse, double kernel_bound, double fade_bound, sweep_steps& steps, sweep_block_arrays& work,
                 Sample* out, bool& unsettled)
{
    using settled_sample = std::conditional_t<is_float_sample<Sample>, float, std::int32_t>;
    settled_sample* samples = reinterpret_cast<settled_sample*>(work.integers);
    if constexpr (std::is_same_v<settled_sample, Sample>)
        if (format.channels == 1)
            samples = out;
    sweep_brackets(shape, first, count, steps, coarse, kernel_bound, fade_bound, work.sweep);
    std::fill_n(work.marks + (count & ~std::size_t{7}), 8, std::uint8_t{0});
    std::int32_t open = 0;
    if constexpr (is_float_sample<Sample>)
        open = settle_signal(work.sweep.low, work.sweep.high, samples, work.marks, count, format.peak, true);
    else
        open = settle_signal(work.sweep.low, work.sweep.high, samples, work.marks, count, format.peak);
    if (open > 0)
        for_each_marked(work.marks, count, [&](std::size_t j) {
            samples[j] = exact_sweep_sample<Sample>(first + static_cast<std::int64_t>(j), shape, format, unsettled);
        });
    if (static_cast<void*>(samples) != static_cast<void*>(out))
        copy_to_channels(samples, count, format, {0, (std::uint32_t{1} << format.channels) - 1}, out);
}

template <class Sample>
bool sweep_frames(std::int64_t first, std::int64_t count, const signal_shape& shape, const tone_format& format,
                  Sample* out, const block_plan& plan)
{
    // s16 (and deep levels) with the coarse kernel, as for tones; the rest,
    // f32 too, with the fine one's absolute bound.
    const bool coarse = !is_float_sample<Sample> && format.peak < 0x1p16;
    const double own = coarse ? coarse_kernel.total_bound : fine_kernel.total_bound;
    const double raised = plan.first_bound;
    const double kernel_bound = raised != 0 ? std::max(raised, own) : own;
    const double fade_bound = std::max(raised, fine_kernel.total_bound);
    sweep_steps steps;
    make_sweep_steps(shape.sweep, count, steps);
    sweep_block_arrays work;
    bool unsettled = false;
    for (std::int64_t done = 0; done < count; done += static_cast<std::int64_t>(sweep_block)) {
        const auto size = static_cast<std::size_t>(std::min<std::int64_t>(sweep_block, count - done));
        sweep_frames_block(static_cast<std::int32_t>(first + done), size, shape, format, coarse, kernel_bound, fade_bound,
                    steps, work, out + done * format.channels, unsettled);
    }
    return !unsettled;
}

}  // namespace

double signal_angle(std::int64_t index, const signal_tone& tone, double rate)
{
    const double time = static_cast<double>(index) / rate;
    return tone.phase != 0.0 ? angle_at<true>(time, tone) : angle_at<false>(time, tone);
}

template <class Sample>
bool signal_frames(std::int64_t first, std::int64_t count, const signal_shape& shape, const tone_format& format,
                   Sample* out, const block_plan& plan)
{
    if (shape.swept)
        return sweep_frames(first, count, shape, format, out, plan);
    // Integer samples below 2^16 (s16, and deep levels) take the coarse
    // kernel: its bound, 2^-35.7, leaves about one frame in 2^18 open
    // there. Larger ones take the fine kernel, and f32 its relative bound.
    const bool coarse = !is_float_sample<Sample> && format.peak < 0x1p16;
    const estimates kind = is_float_sample<Sample> ? estimates::relative : coarse ? estimates::coarse : estimates::fine;
    const double kernel_bound = kind == estimates::coarse ? coarse_kernel.total_bound
                                : kind == estimates::fine ? fine_kernel.total_bound
                                                          : 0.0;
    const double raised = plan.first_bound;
    const signal_plan chosen{kind, raised != 0 ? std::max(raised, kernel_bound) : kernel_bound,
                             std::max(raised, fine_kernel.total_bound)};
    channel_class classes[most_channels];
    const std::uint32_t class_count = channel_classes(shape, format, classes);
    block_arrays work;
    narrowing hints[most_channels];
    bool unsettled = false;
    for (std::int64_t done = 0; done < count; done += static_cast<std::int64_t>(signal_block)) {
        const auto size = static_cast<std::size_t>(std::min<std::int64_t>(signal_block, count - done));
        const auto block_first = static_cast<std::int32_t>(first + done);
        block_times(block_first, format.rate, work.times, size);
        for (std::uint32_t m = 0; m < class_count; ++m)
            class_block(block_first, size, shape, format, classes[m], chosen, work, out + done * format.channels,
                        hints[m], unsettled);
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
