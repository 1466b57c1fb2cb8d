// Computes each sample afresh from its index (no phase accumulator, no
// table), a block at a time, for every rate and sample type. Built with
// -ffp-contract=off: a fused multiply-add would change the angle.
//
// A block is made in two steps: the kernel's estimates of every sample's
// sine and peak distance (sine_kernel.hpp: coarse for 16-bit samples, fine
// for the rest), then the rounding test on all of them, each bracket
// narrowed at the peaks. The few samples left open are gathered: 16-bit ones
// get the fine kernel's estimates and the same test again; f32 samples on a
// zero crossing get the reduction by pi in double-double; what is still open
// goes to the exact resolver, with the angle itself. Both steps run on
// vectors where the compiler can make them so; the choice of instruction
// set changes speed, not bytes.
#include "sine_stream.hpp"

#include "exact_sine.hpp"
#include "sine_kernel.hpp"
#include "zero_crossing.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
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

// The loops of the rounding test get a copy for each instruction set,
// chosen when the program loads. Division and multiplication round the same
// on all of them, and -ffp-contract=off keeps FMA out of the wider copies,
// so every copy gives the same bits. Not under the thread sanitizer: the
// resolver that chooses runs while the program is relocated, before the
// sanitizer's runtime is set up, and its instrumented code would crash.
#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__) && !defined(__SANITIZE_THREAD__)
#define PURETONE_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define PURETONE_VECTOR_CLONES
#endif

// The kernel of each sample type: 16-bit samples take the coarse one.
template <class Sample>
constexpr const auto& kernel_for()
{
    if constexpr (std::is_same_v<Sample, std::int16_t>)
        return coarse_kernel;
    else
        return fine_kernel;
}

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

// The rounding test for a run of estimates of sin t within `bound`, on
// the plain brackets [y - E, y + E], without branches, so that it runs on
// vectors. samples[k] is the settled sample, or the low end's where it is
// left open; marks[k] is 0 where settled, else 1, or for f32 2 where the
// estimate is not near a zero crossing (those go straight to the
// resolver). Returns how many are open. The few open ones are then
// settled one by one (settle_open_integers, settle_open_floats): a second
// pass over the whole block would cost tones that land on their peaks or
// zero crossings a steady share (1 kHz at 48 kHz: one sample in 24) nearly
// what the first pass costs.
template <class Sample>
[[gnu::always_inline]] inline std::int32_t settle_pass(const double* sines, Sample* samples, std::uint8_t* marks,
                                                       std::size_t count, double peak, double bound)
{
    std::int32_t open = 0;  // 32-bit: the count shares vector lanes with the samples
    for (std::size_t k = 0; k < count; ++k) {
        const sine_bracket bracket{sines[k] - bound, sines[k] + bound};
        if constexpr (is_float_sample<Sample>) {
            const bracket_of<Sample> ends = bracket_ends<Sample>(bracket, peak);
            samples[k] = ends.low;
            const bool left = !same_sample(ends.low, ends.high);
            const bool near_zero = std::fabs(sines[k]) <= zero_crossing_reach;
            marks[k] = static_cast<std::uint8_t>(left ? (near_zero ? 1 : 2) : 0);
            open += left;
        } else {
            // Integer ends compared as 32-bit integers: the lanes of the
            // test stay as wide as they were for 16 bits alone.
            const std::int32_t low = scale_to_integer(bracket.low, peak);
            const std::int32_t high = scale_to_integer(bracket.high, peak);
            samples[k] = static_cast<Sample>(low);
            marks[k] = static_cast<std::uint8_t>(low != high);
            open += low != high;
        }
    }
    return open;
}

// One copy a sample type, each cloned for the instruction sets.
PURETONE_VECTOR_CLONES
std::int32_t settle_samples(const double* sines, std::int16_t* samples, std::uint8_t* marks, std::size_t count,
                            double peak, double bound)
{
    // Settled as 32-bit samples, then narrowed: a loop that did both would
    // hold 16 samples' doubles at once, more than the registers.
    alignas(64) std::array<std::int32_t, block_samples> wide;
    const std::int32_t open = settle_pass(sines, wide.data(), marks, count, peak, bound);
    for (std::size_t k = 0; k < count; ++k)
        samples[k] = static_cast<std::int16_t>(wide[k]);
    return open;
}

PURETONE_VECTOR_CLONES
std::int32_t settle_samples(const double* sines, std::int32_t* samples, std::uint8_t* marks, std::size_t count,
                            double peak, double bound)
{
    return settle_pass(sines, samples, marks, count, peak, bound);
}

PURETONE_VECTOR_CLONES
std::int32_t settle_samples(const double* sines, float* samples, std::uint8_t* marks, std::size_t count, double peak,
                            double bound)
{
    return settle_pass(sines, samples, marks, count, peak, bound);
}

// Open samples are gathered up to gather_samples at a time, in `scratch`
// (the block's third array: their indices and two values each): most
// blocks have few or none.
constexpr std::size_t gather_samples = block_samples / 4;

// The indices k < count with marks[k] == mark, gathered without branches
// (every index is written, and kept only where marked) into indices, from
// `from` on, until `most` are gathered; returns how many, and where the
// scan stopped in `from`.
inline std::size_t gather(const std::uint8_t* marks, std::size_t count, std::uint8_t mark, double* indices,
                          std::size_t most, std::size_t& from)
{
    std::size_t gathered = 0;
    std::size_t k = from;
    for (; k < count && gathered < most; ++k) {
        indices[gathered] = static_cast<double>(k);
        gathered += marks[k] == mark;
    }
    from = k;
    return gathered;
}

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
// within `bound`: the rounding test with the peak rule, else the exact
// resolver from the angle.
template <class Sample>
Sample settle_one(std::int32_t index, const tone_shape& tone, double sine, double peak_distance, double bound,
                  bool& unsettled)
{
    const bracket_of<Sample> ends =
        bracket_ends<Sample>(narrowed_bracket(sine, bound, peak_distance, bound), tone.peak);
    if (same_sample(ends.low, ends.high))
        return ends.low;
    return resolve_sample_for<Sample>(tone_angle(index, tone.frequency, tone.rate), sine, bound, tone.peak,
                                      unsettled);
}

// The integer samples the plain test left open, gathered: first the peak
// rule (narrowed_bracket, with the kernel's peak distance), which settles
// those that only straddled P - 1 and P at a peak; then, after the coarse
// kernel, the fine kernel's estimates, which settle all but about one in
// 2^17 of the rest; then the exact resolver from the angle, made again
// (tone_angle gives the very bits the kernel had). Returns how many went
// past the peak rule.
template <class Sample>
std::size_t settle_open_integers(std::int32_t first, const tone_shape& tone, const double* sines,
                                 const double* peaks, const std::uint8_t* marks, double bound, bool coarse,
                                 std::span<Sample> samples, double* scratch, bool& unsettled)
{
    double* const open_index = scratch;  // whole numbers below block_samples
    double* const fine_sines = scratch + gather_samples;
    double* const fine_peak_distances = scratch + 2 * gather_samples;
    std::size_t past_the_peak_rule = 0;
    for (std::size_t from = 0; from < samples.size();) {
        const std::size_t gathered = gather(marks, samples.size(), 1, open_index, gather_samples, from);
        std::size_t left = 0;  // those the peak rule leaves open, moved to the front
        for (std::size_t j = 0; j < gathered; ++j) {
            const auto k = static_cast<std::size_t>(open_index[j]);
            const bracket_of<Sample> ends =
                bracket_ends<Sample>(narrowed_bracket(sines[k], bound, peaks[k], bound), tone.peak);
            samples[k] = ends.low;
            open_index[left] = open_index[j];
            left += !same_sample(ends.low, ends.high);
        }
        past_the_peak_rule += left;
        if (coarse && left != 0)
            fine_estimates(first, tone.frequency, tone.rate, open_index, fine_sines, fine_peak_distances, left);
        for (std::size_t j = 0; j < left; ++j) {
            const auto k = static_cast<std::size_t>(open_index[j]);
            const std::int32_t index = first + static_cast<std::int32_t>(k);
            samples[k] = coarse ? settle_one<Sample>(index, tone, fine_sines[j], fine_peak_distances[j],
                                                     fine_kernel.total_bound, unsettled)
                                : resolve_sample_for<Sample>(tone_angle(index, tone.frequency, tone.rate), sines[k],
                                                             bound, tone.peak, unsettled);
        }
    }
    return past_the_peak_rule;
}

// The estimates near zero of the gathered open float samples, for
// indices[j] of the block: a loop without branches, which the compiler
// makes into vector code (at 11025 Hz every other sample is one).
PURETONE_VECTOR_CLONES
void near_zero_estimates(std::int32_t first, double frequency, double rate, const double* __restrict indices,
                         double* __restrict values, double* __restrict bounds, std::size_t count)
{
    for (std::size_t j = 0; j < count; ++j) {
        const double angle = tone_angle(first + static_cast<std::int32_t>(indices[j]), frequency, rate);
        const sine_near_zero near = sine_near_a_zero_or_open(angle);
        values[j] = near.value;
        bounds[j] = near.bound;
    }
}

// The float samples the plain test left open: those on a zero crossing
// (mark 1) gathered and settled from their estimates near zero; the rest
// (mark 2), rare, and any still open, by the resolver. An angle of +-0
// (phase 0, or every sample at 0 Hz) gives +-0 itself.
void settle_open_floats(std::int32_t first, const tone_shape& tone, const double* sines, const std::uint8_t* marks,
                        double bound, std::span<float> samples, double* scratch, bool& unsettled)
{
    double* const open_index = scratch;  // whole numbers below block_samples
    double* const values = scratch + gather_samples;
    double* const bounds = scratch + 2 * gather_samples;
    const auto resolve = [&](std::size_t k) {
        const double angle = tone_angle(first + static_cast<std::int32_t>(k), tone.frequency, tone.rate);
        samples[k] = angle == 0 ? scale_sample<float>(angle, tone.peak)
                                : resolve_sample_for<float>(angle, sines[k], bound, tone.peak, unsettled);
    };
    for (std::size_t from = 0; from < samples.size();) {
        const std::size_t gathered = gather(marks, samples.size(), 1, open_index, gather_samples, from);
        near_zero_estimates(first, tone.frequency, tone.rate, open_index, values, bounds, gathered);
        for (std::size_t j = 0; j < gathered; ++j) {
            const auto k = static_cast<std::size_t>(open_index[j]);
            const bracket_of<float> closer = bracket_for<float>(values[j], bounds[j], tone.peak);
            if (same_sample(closer.low, closer.high))
                samples[k] = closer.low;
            else
                resolve(k);
        }
    }
    for (std::size_t k = 0; k < samples.size(); ++k)
        if (marks[k] == 2)
            resolve(k);
}

}  // namespace

template <class Sample>
std::size_t tone_block(std::int32_t first, const tone_shape& tone, std::span<Sample> samples, bool& unsettled,
                       const block_plan& plan)
{
    alignas(64) std::array<double, block_samples> sines;
    alignas(64) std::array<double, block_samples> peaks;  // peak distances, or cosines
    alignas(64) std::array<double, 3 * gather_samples> scratch;  // the open samples, gathered
    alignas(64) std::array<std::uint8_t, block_samples> marks;
    const std::size_t count = samples.size();
    if (count == 0)
        return 0;
    constexpr const auto& kernel = kernel_for<Sample>();
    constexpr bool coarse = std::is_same_v<Sample, std::int16_t>;
    estimates(kernel, first, tone.frequency, tone.rate, sines.data(), peaks.data(), count);
    const double bound = plan.first_bound != 0 ? plan.first_bound : kernel.total_bound;
    const std::int32_t open = settle_samples(sines.data(), samples.data(), marks.data(), count, tone.peak, bound);
    if (open == 0)
        return 0;
    if constexpr (is_float_sample<Sample>) {
        settle_open_floats(first, tone, sines.data(), marks.data(), bound, samples, scratch.data(), unsettled);
        return static_cast<std::size_t>(open);
    } else {
        return settle_open_integers(first, tone, sines.data(), peaks.data(), marks.data(), bound, coarse, samples,
                                    scratch.data(), unsettled);
    }
}

template <class Sample>
bool tone_samples(std::int32_t first, const tone_shape& tone, std::span<Sample> samples, const block_plan& plan)
{
    bool unsettled = false;
    // Advance by what is left, never past the end: no index overflows.
    for (std::size_t done = 0; done < samples.size();) {
        const std::size_t count = std::min<std::size_t>(block_samples, samples.size() - done);
        tone_block<Sample>(first + static_cast<std::int32_t>(done), tone, samples.subspan(done, count), unsettled,
                           plan);
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
