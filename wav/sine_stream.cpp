// Computes each sample afresh from its index (no phase accumulator, no
// table), a block at a time. Built with -ffp-contract=off: a fused
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
#endif

namespace puretone {

double sine_angle(std::int32_t index, double frequency)
{
    double t = static_cast<double>(index) / 44100.0;  // the sample rate
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
[[gnu::always_inline]] inline void fill_angles_with(std::int32_t first, double frequency, double* angles,
                                                    double* reduced, std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k) {
        angles[k] = sine_angle(first + static_cast<std::int32_t>(k), frequency);
        reduced[k] = reduce_angle<fused>(angles[k]).r;
    }
}

#if defined(__x86_64__) && defined(__ELF__)
// A copy for AVX-512 and one for AVX2, both with FMA, which they use in the
// reduction; the baseline uses Dekker's product. Chosen once, from the CPU's
// features (which include the operating system's support for the wider
// registers). Like the clones, every copy gives the same bits.
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,fma")))
void fill_angles_avx512(std::int32_t first, double frequency, double* angles, double* reduced, std::size_t count)
{
    fill_angles_with<true>(first, frequency, angles, reduced, count);
}

__attribute__((target("avx2,fma")))
void fill_angles_avx2(std::int32_t first, double frequency, double* angles, double* reduced, std::size_t count)
{
    fill_angles_with<true>(first, frequency, angles, reduced, count);
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

void fill_angles(std::int32_t first, double frequency, double* angles, double* reduced, std::size_t count)
{
    static const int level = fused_angle_level();
    if (level == 2)
        return fill_angles_avx512(first, frequency, angles, reduced, count);
    if (level == 1)
        return fill_angles_avx2(first, frequency, angles, reduced, count);
    fill_angles_with<false>(first, frequency, angles, reduced, count);
}
#else
void fill_angles(std::int32_t first, double frequency, double* angles, double* reduced, std::size_t count)
{
    fill_angles_with<fast_fma>(first, frequency, angles, reduced, count);
}
#endif

// How many samples of a run the rounding test could not settle alone, and
// how many are still open after the peak rule.
struct open_samples {
    std::int32_t straddling, unsettled;  // 32-bit: the counts share vector lanes with the samples
};

// The rounding test for a run of sine estimates, and where cosines are
// given, the peak rule too; without branches, so that it runs on vectors.
// samples[k] is the settled sample, or the low end's where it is left open.
PURETONE_VECTOR_CLONES
open_samples settle_samples(const double* sines, const double* cosines, std::int16_t* samples, std::size_t count)
{
    std::int32_t straddling = 0, unsettled = 0;
    if (cosines == nullptr) {
        for (std::size_t k = 0; k < count; ++k) {
            const sample_bracket ends = bracket_samples(sines[k], vector_error_bound);
            samples[k] = static_cast<std::int16_t>(ends.low);
            straddling += ends.low != ends.high;
        }
        return {straddling, straddling};
    }
    for (std::size_t k = 0; k < count; ++k) {
        const sample_bracket ends = bracket_samples(sines[k], vector_error_bound);
        const std::int32_t peak = settle_peak(ends, cosines[k], vector_error_bound);
        samples[k] = static_cast<std::int16_t>(peak != 0 ? peak : ends.low);
        straddling += ends.low != ends.high;
        unsettled += (ends.low != ends.high) & (peak == 0);
    }
    return {straddling, unsettled};
}

// Rounds a count up to whole vectors.
std::size_t whole_vectors(std::size_t count)
{
    return (count + vector_lanes_max - 1) / vector_lanes_max * vector_lanes_max;
}

// The samples left open by settle_samples, one by one: the peak rule where
// there is a cosine estimate, else (or when the cosine is too near tau) the
// exact resolver, from the angle itself, made again: sine_angle gives the
// very bits fill_angles gave.
void settle_open_samples(std::int32_t first, double frequency, const double* sines, const double* cosines,
                         std::span<std::int16_t> samples)
{
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const sample_bracket ends = bracket_samples(sines[k], vector_error_bound);
        if (ends.low == ends.high)
            continue;
        const std::int32_t peak = cosines != nullptr ? settle_peak(ends, cosines[k], vector_error_bound) : 0;
        samples[k] = peak != 0 ? static_cast<std::int16_t>(peak)
                               : resolve_sample(sine_angle(first + static_cast<std::int32_t>(k), frequency),
                                                sines[k], vector_error_bound);
    }
}

// The samples left open in a block made without cosines: their reduced
// angles are gathered and given vector cosines, then the peak rule. Gathered
// up to gather_samples at a time, in `scratch` (the block's unused cosine
// array), so that they take no stack of their own: most blocks have far
// fewer open samples than that.
constexpr std::size_t gather_samples = block_samples / 4;
static_assert(gather_samples % vector_lanes_max == 0);

void settle_batch(std::int32_t first, double frequency, const double* sines, std::span<std::int16_t> samples,
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
        settle_open_samples(first + static_cast<std::int32_t>(k), frequency, sines + k, cosines + j,
                            samples.subspan(k, 1));
    }
}

void settle_gathered(std::int32_t first, double frequency, const double* reduced, const double* sines,
                     std::span<std::int16_t> samples, double* scratch)
{
    double* const open_angles = scratch;
    double* const open_index = scratch + 3 * gather_samples;
    std::size_t open = 0;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        if (open == gather_samples) {  // rare: a block of many peaks
            settle_batch(first, frequency, sines, samples, scratch, open);
            open = 0;
        }
        // Written every time, kept only when open: no branch to mispredict.
        const sample_bracket ends = bracket_samples(sines[k], vector_error_bound);
        open_index[open] = static_cast<double>(k);
        open_angles[open] = reduced[k];
        open += ends.low != ends.high;
    }
    if (open != 0)
        settle_batch(first, frequency, sines, samples, scratch, open);
}

}  // namespace

std::size_t sine_block(std::int32_t first, double frequency, std::span<std::int16_t> samples,
                       bool with_cosines)
{
    // The angles are not kept: fill_angles writes them where the sines go
    // next, and the few samples that need an angle again make it again.
    alignas(64) std::array<double, block_samples> reduced;
    alignas(64) std::array<double, block_samples> sines;
    alignas(64) std::array<double, block_samples> cosines_store;
    double* const cosines = with_cosines ? cosines_store.data() : nullptr;
    const std::size_t count = samples.size();
    const std::size_t padded = whole_vectors(count);
    fill_angles(first, frequency, sines.data(), reduced.data(), count);
    std::fill(reduced.begin() + count, reduced.begin() + padded, 0.0);  // whole vectors, harmless
    vector_estimates(widest_vector_isa(), reduced.data(), sines.data(), cosines, padded);
    const open_samples open = settle_samples(sines.data(), cosines, samples.data(), count);
    if (open.unsettled != 0 && with_cosines)
        settle_open_samples(first, frequency, sines.data(), cosines, samples);
    else if (open.unsettled != 0)
        settle_gathered(first, frequency, reduced.data(), sines.data(), samples, cosines_store.data());
    return static_cast<std::size_t>(open.straddling);
}

#else

std::size_t sine_block(std::int32_t first, double frequency, std::span<std::int16_t> samples, bool)
{
    for (std::size_t k = 0; k < samples.size(); ++k)
        samples[k] = sine_sample(first + static_cast<std::int32_t>(k), frequency);
    return 0;
}

#endif

namespace {

// Whether more than one sample in 8 lands on a peak, so that even a call's
// first block pays for its cosines in the vector pass (a short window far
// into a tone has no block before it to tell). Sample i is at a peak when
// r*i is an odd integer, with r = 4f/44100 = p/q in lowest terms: that is
// one sample in 2q where p is odd, none where p is even, so only q <= 3
// counts. Frequencies near these (a drifting peak) are left to the blocks'
// own counts. Only speed depends on this: samples are the same either way.
bool peaks_are_frequent(double frequency)
{
    for (const double q : {1.0, 2.0, 3.0}) {
        const double turns = 4.0 * q * std::fabs(frequency) / 44100.0;  // r*q
        if (turns == std::floor(turns))
            return std::fmod(turns, 2.0) == 1.0;  // the first integer r*q has the least q
    }
    return false;
}

}  // namespace

void sine_samples(std::int32_t first, double frequency, std::span<std::int16_t> samples)
{
    bool with_cosines = peaks_are_frequent(frequency);
    // Advance by what is left, never past the end: no index overflows.
    for (std::size_t done = 0; done < samples.size();) {
        const std::size_t count = std::min<std::size_t>(block_samples, samples.size() - done);
        const std::size_t open = sine_block(first + static_cast<std::int32_t>(done), frequency,
                                            samples.subspan(done, count), with_cosines);
        // Where many samples are peaks (11025 Hz: every other one), the
        // next block gets its cosines in the same pass as its sines.
        with_cosines = open * 8 > count;
        done += count;
    }
}

}  // namespace puretone
