// Computes each sample afresh from its index (no phase accumulator, no
// table), a block at a time, for every rate and sample type. Built with
// -ffp-contract=off: a fused multiply-add would change the angle.
//
// A block is made in two steps: the kernel's estimates of every sample's
// sine (sine_kernel.hpp: coarse for integer samples below 2^24, fine for
// larger ones, each with the peak distance; for f32 with a bound relative
// to the sine, which settles the zero crossings too), then the rounding
// test on all of them, which marks the samples it leaves open. Integer
// brackets are narrowed at the peaks: on vectors where many are open, at
// the frames the tone's arithmetic puts its peaks on, or one by one where
// few are. The samples still open are gathered: after the coarse kernel
// they get the fine kernel's estimates and the same test again; f32
// samples near a zero crossing at far angles get the reduction by pi in
// double-double; what is still open goes to the exact resolver, with the
// angle itself. The loops run on vectors where the compiler can make them
// so; the choice of instruction set changes speed, not bytes.
#include "sine_stream.hpp"

#include "exact_sine.hpp"
#include "sine_kernel.hpp"
#include "vector_copies.hpp"
#include "zero_crossing.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <bit>
#include <cstddef>
#include <cstring>
#include <numeric>
#include <optional>
#include <type_traits>

#if PURETONE_VECTOR
#include "cpu_features.hpp"
#endif

namespace puretone {

double sine_angle(std::int32_t index, double frequency, double rate)
{
    return tone_angle(index, frequency, rate);
}

std::optional<std::int16_t> sine_sample(std::int32_t index, double frequency)
{
    const double angle = sine_angle(index, frequency);
    bool unsettled = false;
    const std::int16_t sample = exact_sample(angle, std::sin(angle), libm_error_bound, unsettled);
    return unsettled ? std::nullopt : std::optional(sample);
}

template <class Sample>
std::optional<Sample> tone_sample(std::int32_t index, const tone_shape& tone)
{
    const double angle = sine_angle(index, tone.frequency, tone.rate);
    bool unsettled = false;
    const Sample sample = exact_sample_for<Sample>(angle, std::sin(angle), libm_error_bound, tone.peak, unsettled);
    return unsettled ? std::nullopt : std::optional(sample);
}

namespace {

#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
// A copy of the kernel's loop for AVX-512 and one for AVX2, both with FMA;
// the baseline rounds twice where they fuse. Chosen once, from the CPU's
// features (which include the operating system's support for the wider
// registers).
template <class Kernel>
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,fma"))) void
estimates_avx512(const Kernel& kernel, std::int32_t first, double frequency, double rate, double* sines,
                 double* peaks, std::size_t count, bool far)
{
    kernel_estimates<true>(kernel, first, frequency, rate, sines, peaks, count, far);
}

template <class Kernel>
__attribute__((target("avx2,fma"))) void estimates_avx2(const Kernel& kernel, std::int32_t first, double frequency,
                                                        double rate, double* sines, double* peaks,
                                                        std::size_t count, bool far)
{
    kernel_estimates<true>(kernel, first, frequency, rate, sines, peaks, count, far);
}

#endif

template <class Kernel>
void estimates(const Kernel& kernel, std::int32_t first, double frequency, double rate, double* sines,
               double* peaks, std::size_t count)
{
    // The last index, first + count - 1, at most 2^31 - 1: first + count may
    // not be an int32_t.
    const bool far = far_angles(first + static_cast<std::int32_t>(count - 1), frequency, rate);
#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__)
    switch (widest_kernel_isa()) {
    case kernel_isa::avx512_fma:
        return estimates_avx512(kernel, first, frequency, rate, sines, peaks, count, far);
    case kernel_isa::avx2_fma:
        return estimates_avx2(kernel, first, frequency, rate, sines, peaks, count, far);
    case kernel_isa::baseline:
        break;
    }
#elif PURETONE_VECTOR && defined(__aarch64__)
    if (widest_kernel_isa() == kernel_isa::sve)
        return kernel_estimates_sve(kernel, first, frequency, rate, sines, peaks, count, far);
#endif
    kernel_estimates<fast_fma>(kernel, first, frequency, rate, sines, peaks, count, far);
}

// The rounding test for a run of estimates of sin t within `bound`,
// without branches, so that it runs on vectors: on the plain brackets
// [y - E, y + E], or on the brackets narrowed at the peaks
// (narrowed_bracket) by peaks[k], the kernel's peak distance. For f32, each
// estimate's own bound (`scale`, relative_kernel), or `bound` where larger
// (0 but where a test raises it). Near a peak
// the plain bracket straddles only within about 2^-17 rad of it, rarely,
// unless the tone lands on its peaks (11025 Hz at 44100 Hz: every other
// sample; 1 kHz at 48 kHz: one in 24). samples[k] is the settled sample, or
// the low end's where it is left open; where `mark`, marks[k] is 1 where it
// is left open, else 0. Returns how many are open.
template <bool narrowed, bool mark, class Sample>
[[gnu::always_inline]] inline std::int32_t settle_pass(const double* sines, const double* peaks, Sample* samples,
                                                       std::uint8_t* marks, std::size_t count, double peak,
                                                       double bound, estimate_bound scale = {})
{
    std::int32_t open = 0;  // 32-bit: the count shares vector lanes with the samples
    for (std::size_t k = 0; k < count; ++k) {
        bool left = false;
        if constexpr (is_float_sample<Sample>) {
            const double own = std::max(bound_of(scale, sines[k]), bound);
            const bracket_of<Sample> ends = bracket_ends<Sample>({sines[k] - own, sines[k] + own}, peak);
            samples[k] = ends.low;
            left = !same_sample(ends.low, ends.high);
        } else {
            const sine_bracket bracket = narrowed ? narrowed_bracket(sines[k], bound, peaks[k], peak_distance_bound)
                                                  : sine_bracket{sines[k] - bound, sines[k] + bound};
            // Integer ends compared as 32-bit integers: the lanes of the
            // test stay as wide as they were for 16 bits alone.
            const std::int32_t low = scale_to_integer(bracket.low, peak);
            const std::int32_t high = scale_to_integer(bracket.high, peak);
            samples[k] = static_cast<Sample>(low);
            left = low != high;
        }
        if constexpr (mark)
            marks[k] = left;
        open += left;
    }
    return open;
}

// The passes a block can take, each cloned for the instruction sets: the
// plain test with marks (every type), the narrowed test alone (integers).
// 16-bit samples are settled as 32-bit ones, then narrowed: a loop that did
// both would hold 16 samples' doubles at once, more than the registers.
template <bool narrowed, bool mark>
[[gnu::always_inline]] inline std::int32_t settle_16(const double* sines, const double* peaks, std::int16_t* samples,
                                                     std::uint8_t* marks, std::size_t count, double peak,
                                                     double bound)
{
    alignas(64) std::array<std::int32_t, block_samples> wide;
    const std::int32_t open = settle_pass<narrowed, mark>(sines, peaks, wide.data(), marks, count, peak, bound);
    for (std::size_t k = 0; k < count; ++k)
        samples[k] = static_cast<std::int16_t>(wide[k]);
    return open;
}

PURETONE_VECTOR_CLONES
std::int32_t settle_plain(const double* sines, std::int16_t* samples, std::uint8_t* marks, std::size_t count,
                          double peak, double bound)
{
    return settle_16<false, true>(sines, nullptr, samples, marks, count, peak, bound);
}

PURETONE_VECTOR_CLONES
std::int32_t settle_plain(const double* sines, std::int32_t* samples, std::uint8_t* marks, std::size_t count,
                          double peak, double bound)
{
    return settle_pass<false, true>(sines, nullptr, samples, marks, count, peak, bound);
}

PURETONE_VECTOR_CLONES
std::int32_t settle_plain(const double* sines, estimate_bound scale, float* samples, std::uint8_t* marks,
                          std::size_t count, double peak, double least_bound)
{
    return settle_pass<false, true>(sines, nullptr, samples, marks, count, peak, least_bound, scale);
}

PURETONE_VECTOR_CLONES
std::int32_t settle_narrowed(const double* sines, const double* peaks, std::int16_t* samples, std::size_t count,
                             double peak, double bound)
{
    return settle_16<true, false>(sines, peaks, samples, nullptr, count, peak, bound);
}

PURETONE_VECTOR_CLONES
std::int32_t settle_narrowed(const double* sines, const double* peaks, std::int32_t* samples, std::size_t count,
                             double peak, double bound)
{
    return settle_pass<true, false>(sines, peaks, samples, nullptr, count, peak, bound);
}

// Whether the rounding test on the narrowed bracket leaves a sample open.
template <class Sample>
[[gnu::always_inline]] inline bool left_open(double sine, double peak_distance, double bound, double peak)
{
    const bracket_of<Sample> ends = bracket_ends<Sample>(narrowed_bracket(sine, bound, peak_distance, peak_distance_bound), peak);
    return !same_sample(ends.low, ends.high);
}

// Open samples are gathered up to gather_samples at a time, in `scratch`
// (the block's third array), so that they take no stack of their own: most
// blocks have few or none.
constexpr std::size_t gather_samples = block_samples / 4;

// The fine kernel's estimates for the gathered samples indices[j] of the
// block: a loop without branches, which the compiler makes into vector code.
PURETONE_VECTOR_CLONES
void fine_estimates(std::int32_t first, double frequency, double rate, const double* __restrict indices,
                    double* __restrict sines, double* __restrict peaks, std::size_t count)
{
    for (std::size_t j = 0; j < count; ++j) {
        const double angle = tone_angle(first + static_cast<std::int32_t>(indices[j]), frequency, rate);
        const sine_and_peak estimate = kernel_estimate<fast_fma>(fine_kernel, kernel_reduction<fast_fma, true>(angle));
        sines[j] = estimate.sine;
        peaks[j] = estimate.peak;
    }
}

// One integer sample from an estimate of its sine and its peak distance,
// within `bound`:
// the rounding test, else the exact resolver from the angle, made again
// (tone_angle gives the very bits the kernel had).
template <class Sample>
Sample settle_one(std::int32_t index, const tone_shape& tone, double sine, double peak_distance, double bound,
                  bool& unsettled)
{
    const bracket_of<Sample> ends =
        bracket_ends<Sample>(narrowed_bracket(sine, bound, peak_distance, peak_distance_bound), tone.peak);
    if (same_sample(ends.low, ends.high))
        return ends.low;
    return resolve_sample_for<Sample>(tone_angle(index, tone.frequency, tone.rate), sine, bound, tone.peak,
                                      unsettled);
}

// Gathered open integer samples, open_index[j] for j < count, settled: after
// the coarse kernel with the fine kernel's estimates first, which settle
// all but about one in 2^17 of them; then by the exact resolver.
template <class Sample>
void settle_gathered_integers(std::int32_t first, const tone_shape& tone, const double* sines, const double* peaks,
                              double bound, bool coarse, std::span<Sample> samples, double* scratch,
                              std::size_t count, bool& unsettled)
{
    const double* const open_index = scratch;
    double* const fine_sines = scratch + gather_samples;
    double* const fine_peak_distances = scratch + 2 * gather_samples;
    if (coarse)
        fine_estimates(first, tone.frequency, tone.rate, open_index, fine_sines, fine_peak_distances, count);
    for (std::size_t j = 0; j < count; ++j) {
        const auto k = static_cast<std::size_t>(open_index[j]);
        const std::int32_t index = first + static_cast<std::int32_t>(k);
        samples[k] = coarse ? settle_one<Sample>(index, tone, fine_sines[j], fine_peak_distances[j],
                                                 fine_kernel.total_bound, unsettled)
                            : settle_one<Sample>(index, tone, sines[k], peaks[k], bound, unsettled);
    }
}

// The integer samples the narrowed test leaves open, found by testing every
// sample again (rare: the narrowed test settles nearly all), gathered
// without branches.
template <class Sample>
void settle_open_integers(std::int32_t first, const tone_shape& tone, const double* sines, const double* peaks,
                          double bound, bool coarse, std::span<Sample> samples, double* scratch, bool& unsettled)
{
    double* const open_index = scratch;  // whole numbers below block_samples
    std::size_t open = 0;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        // Written every time, kept only when open: no branch to mispredict.
        open_index[open] = static_cast<double>(k);
        open += left_open<Sample>(sines[k], peaks[k], bound, tone.peak);
        if (open == gather_samples) {
            settle_gathered_integers(first, tone, sines, peaks, bound, coarse, samples, scratch, open, unsettled);
            open = 0;
        }
    }
    if (open != 0)
        settle_gathered_integers(first, tone, sines, peaks, bound, coarse, samples, scratch, open, unsettled);
}

// The few integer samples the plain test marked open, one by one: the
// narrowed test, then, for what it leaves open, as above.
template <class Sample>
void settle_marked_integers(std::int32_t first, const tone_shape& tone, const double* sines, const double* peaks,
                            const std::uint8_t* marks, double bound, bool coarse, std::span<Sample> samples,
                            double* scratch, bool& unsettled)
{
    double* const open_index = scratch;
    std::size_t open = 0;
    for_each_marked(marks, samples.size(), [&](std::size_t k) {
        const bracket_of<Sample> ends =
            bracket_ends<Sample>(narrowed_bracket(sines[k], bound, peaks[k], peak_distance_bound), tone.peak);
        samples[k] = ends.low;
        if (same_sample(ends.low, ends.high))
            return;
        open_index[open++] = static_cast<double>(k);
        if (open == gather_samples) {
            settle_gathered_integers(first, tone, sines, peaks, bound, coarse, samples, scratch, open, unsettled);
            open = 0;
        }
    });
    if (open != 0)
        settle_gathered_integers(first, tone, sines, peaks, bound, coarse, samples, scratch, open, unsettled);
}

// The gathered open float samples indices[j] of the block, settled where
// their estimates near zero allow: samples[j] the sample, open[j] 1 where
// the estimate still leaves it open, else 0. A loop without branches, which
// the compiler makes into vector code (at 11025 Hz every other sample is
// one).
PURETONE_VECTOR_CLONES
void near_zero_samples(std::int32_t first, double frequency, double rate, double peak,
                       const double* __restrict indices, float* __restrict samples,
                       std::uint32_t* __restrict open, std::size_t count)
{
    for (std::size_t j = 0; j < count; ++j) {
        const double angle = tone_angle(first + static_cast<std::int32_t>(indices[j]), frequency, rate);
        const sine_near_zero near = sine_near_a_zero_or_open(angle);
        const bracket_of<float> closer = bracket_for<float>(near.value, near.bound, peak);
        samples[j] = closer.low;
        open[j] = std::bit_cast<std::uint32_t>(closer.low) != std::bit_cast<std::uint32_t>(closer.high);
    }
}

// The float samples the plain test marked open: those on a zero crossing
// gathered and settled from their estimates near zero (a vector loop); the
// rest, rare, and any still open, by the resolver. An angle of +-0 (phase
// 0, or every sample at 0 Hz) gives +-0 itself.
void settle_marked_floats(std::int32_t first, const tone_shape& tone, const double* sines, estimate_bound scale,
                          const std::uint8_t* marks, double least_bound, std::span<float> samples, double* scratch,
                          bool& unsettled)
{
    double* const open_index = scratch;  // whole numbers below block_samples
    float closer[gather_samples];
    std::uint32_t still_open[gather_samples];
    const auto resolve = [&](std::size_t k) {
        const double angle = tone_angle(first + static_cast<std::int32_t>(k), tone.frequency, tone.rate);
        samples[k] = angle == 0 ? scale_sample<float>(angle, tone.peak)
                                : resolve_sample_for<float>(angle, sines[k],
                                                            std::max(bound_of(scale, sines[k]), least_bound),
                                                            tone.peak, unsettled);
    };
    std::size_t open = 0;
    const auto settle_gathered = [&] {
        near_zero_samples(first, tone.frequency, tone.rate, tone.peak, open_index, closer, still_open, open);
        for (std::size_t j = 0; j < open; ++j) {
            const auto k = static_cast<std::size_t>(open_index[j]);
            if (still_open[j] != 0)
                resolve(k);
            else
                samples[k] = closer[j];
        }
        open = 0;
    };
    for_each_marked(marks, samples.size(), [&](std::size_t k) {
        if (std::fabs(sines[k]) > zero_crossing_reach) {
            resolve(k);
            return;
        }
        open_index[open++] = static_cast<double>(k);
        if (open == gather_samples)
            settle_gathered();
    });
    if (open != 0)
        settle_gathered();
}

// Where a tone's frequency f and rate R are whole, frame i's exact angle 2
// pi i f / R is an odd multiple of pi/2, a peak, exactly where 4 i f / R is
// an odd whole number: with g = gcd(4f, R) and n = R / g, where i is an odd
// multiple of n, if 4f / g is odd, and never if it is even. 1 kHz at 48 kHz
// peaks at frames 12, 36, 60, ... The computed angle misses the peak by a
// few of its ulps, so P sin t lies just below P, and the plain test leaves
// each such integer sample open. Returns n, where the peaks come often
// enough to be worth a pass of their own, else 0. Only a hint: the pass
// below tests each sample as the marked path would, so a wrong n costs
// time, never bytes.
constexpr std::uint64_t longest_peak_stride = block_samples / 4;

std::int32_t peak_half_stride(const tone_shape& tone)
{
    const double frequency = std::fabs(tone.frequency);
    if (!(frequency >= 1 && frequency < 0x1p50) || frequency != std::floor(frequency) || !(tone.rate >= 1)
        || !(tone.rate < 0x1p31) || tone.rate != std::floor(tone.rate))
        return 0;
    const auto rate = static_cast<std::uint64_t>(tone.rate);
    const std::uint64_t four_f = 4 * static_cast<std::uint64_t>(frequency);
    const std::uint64_t g = std::gcd(four_f, rate);
    const std::uint64_t n = rate / g;
    return (four_f / g) % 2 == 1 && 2 * n <= longest_peak_stride ? static_cast<std::int32_t>(n) : 0;
}

// The marked integer samples on the tone's peaks (frames n, 3n, 5n, ...)
// settled by the narrowed test, their marks cleared; returns how many marks
// are left of `open`. No word of marks is scanned, no mark gathered.
template <class Sample>
std::int32_t settle_peaks(std::int32_t first, std::int32_t half_stride, const double* sines, const double* peaks,
                          std::uint8_t* marks, double bound, double peak, std::span<Sample> samples,
                          std::int32_t open)
{
    const std::int32_t stride = 2 * half_stride;
    std::int32_t phase = (first - half_stride) % stride;  // first's place among the peaks
    if (phase < 0)
        phase += stride;
    for (auto k = static_cast<std::size_t>((stride - phase) % stride); k < samples.size();
         k += static_cast<std::size_t>(stride)) {
        if (marks[k] == 0)
            continue;
        const bracket_of<Sample> ends =
            bracket_ends<Sample>(narrowed_bracket(sines[k], bound, peaks[k], peak_distance_bound), peak);
        if (same_sample(ends.low, ends.high)) {
            samples[k] = ends.low;
            marks[k] = 0;
            --open;
        }
    }
    return open;
}

// An integer block by the narrowed test on vectors, then what it leaves
// open; returns how many that is.
template <class Sample>
std::size_t narrowed_block(std::int32_t first, const tone_shape& tone, const double* sines, const double* peaks,
                           double bound, bool coarse, std::span<Sample> samples, double* scratch, bool& unsettled)
{
    const std::int32_t open = settle_narrowed(sines, peaks, samples.data(), samples.size(), tone.peak, bound);
    if (open != 0)
        settle_open_integers(first, tone, sines, peaks, bound, coarse, samples, scratch, unsettled);
    return static_cast<std::size_t>(open);
}

// What a block learns for the next: whether the tone lands on its peaks
// often (more than peak_heavy_share of a block open in the plain test), so
// that its integer blocks go straight to the narrowed test, one vector pass
// instead of two. Every probe_blocks-th block takes the plain test again,
// to see. Either way the samples are the same; only the cost differs.
struct block_hint {
    bool peak_heavy = false;
    unsigned blocks = 0;
    std::int32_t peak_half_stride = 0;  // for integers: peak_half_stride(tone)
};

template <class Sample>
block_hint first_hint(const tone_shape& tone)
{
    block_hint hint;
    if constexpr (!is_float_sample<Sample>)
        hint.peak_half_stride = peak_half_stride(tone);
    return hint;
}
constexpr std::int32_t few_open = block_samples / 16;  // open ones settled one by one, at most
constexpr unsigned probe_blocks = 8;

template <class Sample>
std::size_t settle_block(std::int32_t first, const tone_shape& tone, std::span<Sample> samples, bool& unsettled,
                         double first_bound, block_hint& hint)
{
    alignas(64) std::array<double, block_samples> sines;
    alignas(64) std::array<double, block_samples> peaks;  // peak distances; for f32, scratch
    alignas(64) std::array<double, 3 * gather_samples> scratch;  // the open samples, gathered
    alignas(64) std::array<std::uint8_t, block_samples> marks;
    const std::size_t count = samples.size();
    if (count == 0)
        return 0;
    // Integer samples below 2^24 in magnitude (s16, s24, and s32 at low
    // levels) take the coarse kernel first: its bound, 2^-35.7, leaves open
    // about P 2^-34.7 of them, at most one in 3000 for P < 2^24, and those
    // take the fine kernel's estimates next. Larger ones take the fine
    // kernel alone; f32, whose floats near zero need a bound relative to
    // the sine, the fine polynomial with the reduction in double-double.
    const bool coarse = !is_float_sample<Sample> && tone.peak < 0x1p24;
    if constexpr (is_float_sample<Sample>)
        estimates(float_kernel, first, tone.frequency, tone.rate, sines.data(), peaks.data(), count);
    else if (coarse)
        estimates(coarse_kernel, first, tone.frequency, tone.rate, sines.data(), peaks.data(), count);
    else
        estimates(fine_kernel, first, tone.frequency, tone.rate, sines.data(), peaks.data(), count);
    const double bound = first_bound != 0         ? first_bound
                         : is_float_sample<Sample> ? 0.0  // each estimate's own, float_scale
                         : coarse                  ? coarse_kernel.total_bound
                                                   : fine_kernel.total_bound;
    // As estimates() decides it.
    const estimate_bound float_scale = relative_bound(
        float_kernel, far_angles(first + static_cast<std::int32_t>(count - 1), tone.frequency, tone.rate));
    if constexpr (!is_float_sample<Sample>) {
        if (hint.peak_heavy && ++hint.blocks % probe_blocks != 0)
            return narrowed_block(first, tone, sines.data(), peaks.data(), bound, coarse, samples, scratch.data(),
                                  unsettled);
    }
    // The marks are read in whole words: the last one's bytes past the
    // block are zeroed first, by one 8-byte store (the pass then writes
    // those before them). Not a fill, which the compiler may make a call
    // to memset, bound lazily on the caller's stack.
    if (count % 8 != 0) {
        const std::uint64_t zero = 0;
        std::memcpy(marks.data() + count / 8 * 8, &zero, 8);
    }
    std::int32_t open;
    if constexpr (is_float_sample<Sample>)
        open = settle_plain(sines.data(), float_scale, samples.data(), marks.data(), count, tone.peak, bound);
    else
        open = settle_plain(sines.data(), samples.data(), marks.data(), count, tone.peak, bound);
    hint.peak_heavy = open > few_open;
    if (open == 0)
        return 0;
    if constexpr (is_float_sample<Sample>) {
        settle_marked_floats(first, tone, sines.data(), float_scale, marks.data(), bound, samples, scratch.data(),
                             unsettled);
        return static_cast<std::size_t>(open);
    } else {
        if (open <= few_open) {
            if (hint.peak_half_stride != 0
                && settle_peaks(first, hint.peak_half_stride, sines.data(), peaks.data(), marks.data(), bound,
                                tone.peak, samples, open)
                       == 0)
                return static_cast<std::size_t>(open);
            settle_marked_integers(first, tone, sines.data(), peaks.data(), marks.data(), bound, coarse, samples,
                                   scratch.data(), unsettled);
            return static_cast<std::size_t>(open);
        }
        return narrowed_block(first, tone, sines.data(), peaks.data(), bound, coarse, samples, scratch.data(),
                              unsettled);
    }
}

}  // namespace

template <class Sample>
std::size_t tone_block(std::int32_t first, const tone_shape& tone, std::span<Sample> samples, bool& unsettled,
                       const block_plan& plan)
{
    block_hint hint = first_hint<Sample>(tone);
    return settle_block(first, tone, samples, unsettled, plan.first_bound, hint);
}

template <class Sample>
bool tone_samples(std::int32_t first, const tone_shape& tone, std::span<Sample> samples, const block_plan& plan)
{
    bool unsettled = false;
    block_hint hint = first_hint<Sample>(tone);
    // Advance by what is left, never past the end: no index overflows.
    for (std::size_t done = 0; done < samples.size();) {
        const std::size_t count = std::min<std::size_t>(block_samples, samples.size() - done);
        settle_block<Sample>(first + static_cast<std::int32_t>(done), tone, samples.subspan(done, count), unsettled,
                             plan.first_bound, hint);
        done += count;
    }
    return !unsettled;
}

std::size_t sine_block(std::int32_t first, double frequency, std::span<std::int16_t> samples, bool& unsettled,
                       const block_plan& plan)
{
    return tone_block<std::int16_t>(first, {44100.0, frequency, 32767.0}, samples, unsettled, plan);
}

bool sine_samples(std::int32_t first, double frequency, std::span<std::int16_t> samples)
{
    return tone_samples<std::int16_t>(first, {44100.0, frequency, 32767.0}, samples);
}

#define PURETONE_SAMPLE_TYPE(Sample)                                                                          \
    template std::optional<Sample> tone_sample<Sample>(std::int32_t, const tone_shape&);                      \
    template std::size_t tone_block<Sample>(std::int32_t, const tone_shape&, std::span<Sample>, bool&,        \
                                            const block_plan&);                                               \
    template bool tone_samples<Sample>(std::int32_t, const tone_shape&, std::span<Sample>, const block_plan&);
PURETONE_SAMPLE_TYPE(std::int16_t)
PURETONE_SAMPLE_TYPE(std::int32_t)
PURETONE_SAMPLE_TYPE(float)

}  // namespace puretone
