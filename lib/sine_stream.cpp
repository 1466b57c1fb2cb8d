// Computes each sample afresh from its index (no phase accumulator, no
// table), a block at a time, for every rate and sample type. Built with -ffp-contract=off: a fused
// multiply-add would change the angle.
//
// With the vector sine built in, a block is made in three passes: its angles
// (each also reduced by whole turns, to within 2^-51), their vector
// estimates, and the rounding test on all of them. The few samples the test
// leaves open, nearly all peaks, are settled by their cosines: made in the
// same vector pass where the previous block had many open samples, else
// gathered and made afterwards. What the peak rule cannot settle goes to the
// exact resolver, with the angle itself. Without the vector sine, each sample
// takes the C library's sine of the full angle.
#include "sine_stream.hpp"

#include "exact_sine.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#if PURETONE_VECTOR
#include "angle_reduction.hpp"
#include "vector_sine.hpp"
#include "zero_crossing.hpp"
#endif

namespace puretone {

double sine_angle(std::int32_t index, double frequency, double rate)
{
    double t = static_cast<double>(index) / rate;  // the sample rate
    t = t * frequency;
    t = t * 2.0;
    t = t * 3.141592653589793;  // pi, rounded to the nearest double
    return t;
}

std::int16_t sine_sample(std::int32_t index, double frequency)
{
    const double angle = sine_angle(index, frequency);
    return exact_sample(angle, std::sin(angle), libm_error_bound);
}

template <class Sample>
Sample tone_sample(std::int32_t index, const tone_shape& tone)
{
    const double angle = sine_angle(index, tone.frequency, tone.rate);
    return exact_sample_for<Sample>(angle, std::sin(angle), libm_error_bound, tone.peak);
}

#if PURETONE_VECTOR

namespace {

static_assert(sleef_error_bound + reduction_error_bound <= vector_error_bound / 4);

// The loops around the vector sine get a copy for each instruction set,
// chosen when the program loads. Division and multiplication round the same
// on all of them, and -ffp-contract=off keeps FMA out of the wider copies,
// so every copy gives the same bits. Not under the thread sanitizer: the
// resolver that chooses runs while the program is relocated, before the
// sanitizer's runtime is set up, and its instrumented code would crash.
#if defined(__x86_64__) && defined(__ELF__) && !defined(__SANITIZE_THREAD__)
#define PURETONE_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define PURETONE_VECTOR_CLONES
#endif

// The angles of a run of samples, and the same reduced by whole turns, with
// an FMA in the reduction or without.
template <bool fused>
[[gnu::always_inline]] inline void fill_angles_with(std::int32_t first, double frequency, double rate, double* angles,
                                                    double* reduced, std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k) {
        angles[k] = sine_angle(first + static_cast<std::int32_t>(k), frequency, rate);
        reduced[k] = reduce_angle<fused>(angles[k]).r;
    }
}

#if defined(__x86_64__) && defined(__ELF__)
// A copy for AVX-512 and one for AVX2, both with FMA, which they use in the
// reduction; the baseline uses Dekker's product. Chosen once, from the CPU's
// features (which include the operating system's support for the wider
// registers). Like the clones, every copy gives the same bits.
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,fma")))
void fill_angles_avx512(std::int32_t first, double frequency, double rate, double* angles, double* reduced,
                        std::size_t count)
{
    fill_angles_with<true>(first, frequency, rate, angles, reduced, count);
}

__attribute__((target("avx2,fma")))
void fill_angles_avx2(std::int32_t first, double frequency, double rate, double* angles, double* reduced,
                      std::size_t count)
{
    fill_angles_with<true>(first, frequency, rate, angles, reduced, count);
}

int fused_angle_level()
{
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("fma"))
        return 0;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq")
        && __builtin_cpu_supports("avx512vl"))
        return 2;
    return __builtin_cpu_supports("avx2") ? 1 : 0;
}

void fill_angles(std::int32_t first, double frequency, double rate, double* angles, double* reduced,
                 std::size_t count)
{
    static const int level = fused_angle_level();
    if (level == 2)
        return fill_angles_avx512(first, frequency, rate, angles, reduced, count);
    if (level == 1)
        return fill_angles_avx2(first, frequency, rate, angles, reduced, count);
    fill_angles_with<false>(first, frequency, rate, angles, reduced, count);
}
#else
void fill_angles(std::int32_t first, double frequency, double rate, double* angles, double* reduced,
                 std::size_t count)
{
    fill_angles_with<fast_fma>(first, frequency, rate, angles, reduced, count);
}
#endif

// How many samples of a run the rounding test could not settle alone, and
// how many are still open after the peak rule.
struct open_samples {
    std::int32_t straddling, unsettled;  // 32-bit: the counts share vector lanes with the samples
};

// The rounding test for a run of sine estimates, and where cosines are
// given (integer samples only), the peak rule too; without branches, so
// that it runs on vectors. samples[k] is the settled sample, or the low
// end's where it is left open.
template <class Sample>
[[gnu::always_inline]] inline open_samples settle_samples_with(const double* sines, const double* cosines,
                                                               Sample* samples, std::size_t count, double peak)
{
    std::int32_t straddling = 0, unsettled = 0;
    if (cosines == nullptr && !is_float_sample<Sample>) {
        // Integer ends compared as 32-bit integers: the lanes of the test
        // stay as wide as they were for 16 bits alone.
        for (std::size_t k = 0; k < count; ++k) {
            const std::int32_t low = scale_to_integer(sines[k] - vector_error_bound, peak);
            const std::int32_t high = scale_to_integer(sines[k] + vector_error_bound, peak);
            samples[k] = static_cast<Sample>(low);
            straddling += low != high;
        }
        return {straddling, straddling};
    }
    if (cosines == nullptr) {
        for (std::size_t k = 0; k < count; ++k) {
            const bracket_of<Sample> ends = bracket_for<Sample>(sines[k], vector_error_bound, peak);
            samples[k] = ends.low;
            straddling += !same_sample(ends.low, ends.high);
        }
        return {straddling, straddling};
    }
    if constexpr (!is_float_sample<Sample>) {
        const auto whole_peak = static_cast<std::int32_t>(peak);
        for (std::size_t k = 0; k < count; ++k) {
            const sample_bracket ends = {scale_to_integer(sines[k] - vector_error_bound, peak),
                                         scale_to_integer(sines[k] + vector_error_bound, peak)};
            const std::int32_t settled = settle_peak(ends, cosines[k], vector_error_bound, whole_peak);
            samples[k] = static_cast<Sample>(settled != 0 ? settled : ends.low);
            straddling += ends.low != ends.high;
            unsettled += (ends.low != ends.high) & (settled == 0);
        }
    }
    return {straddling, unsettled};
}

// One copy a sample type, each cloned for the instruction sets.
PURETONE_VECTOR_CLONES
open_samples settle_samples(const double* sines, const double* cosines, std::int16_t* samples, std::size_t count,
                            double peak)
{
    return settle_samples_with(sines, cosines, samples, count, peak);
}

PURETONE_VECTOR_CLONES
open_samples settle_samples(const double* sines, const double* cosines, std::int32_t* samples, std::size_t count,
                            double peak)
{
    return settle_samples_with(sines, cosines, samples, count, peak);
}

PURETONE_VECTOR_CLONES
open_samples settle_samples(const double* sines, const double* cosines, float* samples, std::size_t count,
                            double peak)
{
    return settle_samples_with(sines, cosines, samples, count, peak);
}

// Rounds a count up to whole vectors.
std::size_t whole_vectors(std::size_t count)
{
    return (count + vector_lanes_max - 1) / vector_lanes_max * vector_lanes_max;
}

// The integer samples left open by settle_samples, one by one: the peak rule where
// there is a cosine estimate, else (or when the cosine is too near tau) the
// exact resolver, from the angle itself, made again: sine_angle gives the
// very bits fill_angles gave.
template <class Sample>
void settle_open_samples(std::int32_t first, const tone_shape& tone, const double* sines, const double* cosines,
                         std::span<Sample> samples)
{
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const bracket_of<Sample> ends = bracket_for<Sample>(sines[k], vector_error_bound, tone.peak);
        if (same_sample(ends.low, ends.high))
            continue;
        const double angle = sine_angle(first + static_cast<std::int32_t>(k), tone.frequency, tone.rate);
        const std::int32_t settled =
            cosines != nullptr
                ? settle_peak({ends.low, ends.high}, cosines[k], vector_error_bound, static_cast<std::int32_t>(tone.peak))
                : 0;
        samples[k] = settled != 0 ? static_cast<Sample>(settled)
                                  : resolve_sample_for<Sample>(angle, sines[k], vector_error_bound, tone.peak);
    }
}

// The samples left open in a block made without cosines: their reduced
// angles are gathered and given vector cosines, then the peak rule. Gathered
// up to gather_samples at a time, in `scratch` (the block's unused cosine
// array), so that they take no stack of their own: most blocks have far
// fewer open samples than that.
constexpr std::size_t gather_samples = block_samples / 4;
static_assert(gather_samples % vector_lanes_max == 0);

template <class Sample>
void settle_batch(std::int32_t first, const tone_shape& tone, const double* sines, std::span<Sample> samples,
                  double* scratch, std::size_t open)
{
    double* const open_angles = scratch;
    double* const open_sines = scratch + gather_samples;
    double* const cosines = scratch + 2 * gather_samples;
    const double* const open_index = scratch + 3 * gather_samples;  // whole numbers below block_samples
    const std::size_t padded = whole_vectors(open);
    std::fill(open_angles + open, open_angles + padded, 0.0);
    vector_estimates(widest_vector_isa(), open_angles, open_sines, cosines, padded);
    for (std::size_t j = 0; j < open; ++j) {
        const auto k = static_cast<std::size_t>(open_index[j]);
        settle_open_samples(first + static_cast<std::int32_t>(k), tone, sines + k, cosines + j,
                            samples.subspan(k, 1));
    }
}

template <class Sample>
void settle_gathered(std::int32_t first, const tone_shape& tone, const double* reduced, const double* sines,
                     std::span<Sample> samples, double* scratch)
{
    double* const open_angles = scratch;
    double* const open_index = scratch + 3 * gather_samples;
    std::size_t open = 0;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        if (open == gather_samples) {  // rare: a block of many peaks
            settle_batch(first, tone, sines, samples, scratch, open);
            open = 0;
        }
        // Written every time, kept only when open: no branch to mispredict.
        const bracket_of<Sample> ends = bracket_for<Sample>(sines[k], vector_error_bound, tone.peak);
        open_index[open] = static_cast<double>(k);
        open_angles[open] = reduced[k];
        open += !same_sample(ends.low, ends.high);
    }
    if (open != 0)
        settle_batch(first, tone, sines, samples, scratch, open);
}

// The estimates near zero of the gathered open float samples, for
// indices[j] of the block: a loop without branches, which the compiler
// makes into vector code (at 11025 Hz every other sample is one).
PURETONE_VECTOR_CLONES
void near_zero_estimates(std::int32_t first, double frequency, double rate, const double* __restrict indices,
                         double* __restrict values, double* __restrict bounds, std::size_t count)
{
    for (std::size_t j = 0; j < count; ++j) {
        const double angle = sine_angle(first + static_cast<std::int32_t>(indices[j]), frequency, rate);
        const sine_near_zero near = sine_near_a_zero_or_open(angle);
        values[j] = near.value;
        bounds[j] = near.bound;
    }
}

// The float samples left open by the rounding test: those on a zero
// crossing gathered, gather_samples at a time in `scratch` (the block's
// unused cosine array), without branches, and settled from their estimates
// near zero; the rest, rare, and any still open, by the resolver. An angle
// of +-0 (phase 0, or every sample at 0 Hz) gives +-0 itself.
void settle_open_floats(std::int32_t first, const tone_shape& tone, const double* sines, std::span<float> samples,
                        double* scratch)
{
    double* const open_index = scratch;  // whole numbers below block_samples
    double* const values = scratch + gather_samples;
    double* const bounds = scratch + 2 * gather_samples;
    const auto resolve = [&](std::size_t k) {
        const double angle = sine_angle(first + static_cast<std::int32_t>(k), tone.frequency, tone.rate);
        samples[k] = angle == 0 ? scale_sample<float>(angle, tone.peak)
                                : resolve_sample_for<float>(angle, sines[k], vector_error_bound, tone.peak);
    };
    std::size_t open = 0, open_elsewhere = 0;
    const auto settle_gathered_floats = [&] {
        near_zero_estimates(first, tone.frequency, tone.rate, open_index, values, bounds, open);
        for (std::size_t j = 0; j < open; ++j) {
            const auto k = static_cast<std::size_t>(open_index[j]);
            const bracket_of<float> closer = bracket_for<float>(values[j], bounds[j], tone.peak);
            if (same_sample(closer.low, closer.high))
                samples[k] = closer.low;
            else
                resolve(k);
        }
        open = 0;
    };
    for (std::size_t k = 0; k < samples.size(); ++k) {
        // Written every time, kept only when open near a zero: no branch to
        // mispredict where every other sample is one.
        const bracket_of<float> ends = bracket_for<float>(sines[k], vector_error_bound, tone.peak);
        const bool open_here = !same_sample(ends.low, ends.high);
        const bool near_zero = std::fabs(sines[k]) <= zero_crossing_reach;
        open_index[open] = static_cast<double>(k);
        open += open_here & near_zero;
        open_elsewhere += open_here & !near_zero;
        if (open == gather_samples)
            settle_gathered_floats();
    }
    if (open != 0)
        settle_gathered_floats();
    for (std::size_t k = 0; open_elsewhere != 0 && k < samples.size(); ++k) {
        const bracket_of<float> ends = bracket_for<float>(sines[k], vector_error_bound, tone.peak);
        if (!same_sample(ends.low, ends.high) && std::fabs(sines[k]) > zero_crossing_reach) {
            resolve(k);
            --open_elsewhere;
        }
    }
}

}  // namespace

template <class Sample>
std::size_t tone_block(std::int32_t first, const tone_shape& tone, std::span<Sample> samples, bool with_cosines)
{
    // The angles are not kept: fill_angles writes them where the sines go
    // next, and the few samples that need an angle again make it again.
    alignas(64) std::array<double, block_samples> reduced;
    alignas(64) std::array<double, block_samples> sines;
    alignas(64) std::array<double, block_samples> cosines_store;
    // Float samples have no peak rule: their cosines would go unused.
    double* const cosines = with_cosines && !is_float_sample<Sample> ? cosines_store.data() : nullptr;
    const std::size_t count = samples.size();
    const std::size_t padded = whole_vectors(count);
    fill_angles(first, tone.frequency, tone.rate, sines.data(), reduced.data(), count);
    std::fill(reduced.begin() + count, reduced.begin() + padded, 0.0);  // whole vectors, harmless
    vector_estimates(widest_vector_isa(), reduced.data(), sines.data(), cosines, padded);
    const open_samples open = settle_samples(sines.data(), cosines, samples.data(), count, tone.peak);
    if constexpr (is_float_sample<Sample>) {
        if (open.unsettled != 0)
            settle_open_floats(first, tone, sines.data(), samples, cosines_store.data());
    } else if (open.unsettled != 0 && cosines != nullptr)
        settle_open_samples(first, tone, sines.data(), cosines, samples);
    else if (open.unsettled != 0)
        settle_gathered(first, tone, reduced.data(), sines.data(), samples, cosines_store.data());
    return static_cast<std::size_t>(open.straddling);
}

#else

template <class Sample>
std::size_t tone_block(std::int32_t first, const tone_shape& tone, std::span<Sample> samples, bool)
{
    for (std::size_t k = 0; k < samples.size(); ++k)
        samples[k] = tone_sample<Sample>(first + static_cast<std::int32_t>(k), tone);
    return 0;
}

#endif

namespace {

// Whether more than one sample in 8 lands on a peak, so that even a call's
// first block pays for its cosines in the vector pass (a short window far
// into a tone has no block before it to tell). Sample i is at a peak when
// r*i is an odd integer, with r = 4f/rate = p/q in lowest terms: that is
// one sample in 2q where p is odd, none where p is even, so only q <= 3
// counts. Frequencies near these (a drifting peak) are left to the blocks'
// own counts. Only speed depends on this: samples are the same either way.
bool peaks_are_frequent(double frequency, double rate)
{
    for (const double q : {1.0, 2.0, 3.0}) {
        const double turns = 4.0 * q * std::fabs(frequency) / rate;  // r*q
        if (turns == std::floor(turns))
            return std::fmod(turns, 2.0) == 1.0;  // the first integer r*q has the least q
    }
    return false;
}

}  // namespace

template <class Sample>
void tone_samples(std::int32_t first, const tone_shape& tone, std::span<Sample> samples)
{
    bool with_cosines = peaks_are_frequent(tone.frequency, tone.rate);
    // Advance by what is left, never past the end: no index overflows.
    for (std::size_t done = 0; done < samples.size();) {
        const std::size_t count = std::min<std::size_t>(block_samples, samples.size() - done);
        const std::size_t open = tone_block<Sample>(first + static_cast<std::int32_t>(done), tone,
                                                    samples.subspan(done, count), with_cosines);
        // Where many samples are peaks (11025 Hz: every other one), the
        // next block gets its cosines in the same pass as its sines.
        with_cosines = open * 8 > count;
        done += count;
    }
}

std::size_t sine_block(std::int32_t first, double frequency, std::span<std::int16_t> samples, bool with_cosines)
{
    return tone_block<std::int16_t>(first, {44100.0, frequency, 32767.0}, samples, with_cosines);
}

void sine_samples(std::int32_t first, double frequency, std::span<std::int16_t> samples)
{
    tone_samples<std::int16_t>(first, {44100.0, frequency, 32767.0}, samples);
}

#define PURETONE_SAMPLE_TYPE(Sample)                                                                          \
    template Sample tone_sample<Sample>(std::int32_t, const tone_shape&);                                     \
    template std::size_t tone_block<Sample>(std::int32_t, const tone_shape&, std::span<Sample>, bool);        \
    template void tone_samples<Sample>(std::int32_t, const tone_shape&, std::span<Sample>);
PURETONE_SAMPLE_TYPE(std::int16_t)
PURETONE_SAMPLE_TYPE(std::int32_t)
PURETONE_SAMPLE_TYPE(float)

}  // namespace puretone
