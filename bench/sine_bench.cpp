// Samples per second of the scalar path (one C library sine per sample), of
// the block path (the sine kernel), and of the public
// C API over the same indices: 440 Hz, 11025 Hz (half the samples are
// peaks), and 2147483647 Hz with far angles, about 1e14 and about 6.6e14
// (the end of the longest file), which the block path reduces by whole
// turns first. The API runs in the windows the program asks for (32768
// samples) and in windows of 1024, where each call starts without the
// previous call's hint about cosines. environment_guard: what each API call
// pays to compute in the default floating-point environment and give the
// caller's back. puretone_frames makes the same in every sample format, at
// 44100 Hz and at 48000 Hz, where 1 kHz puts every 24th sample on a zero
// crossing (11025 Hz at 44100 Hz every other one). "fallback" counts the
// samples the first estimates leave open. (An earlier path, such as the SLEEF
// vector sine before the kernel, is measured from its commit's build:
// bench/side_by_side.sh times an earlier binary beside this one.) level_call: one frame through the API at full scale, at a
// ratio and at a dBFS level, whose peak each call works out anew (the
// difference is the peak's cost); accurate_sine: one call of the accurate
// path, the fallback of the samples the estimates leave open.
#include "puretone/puretone.h"
#include "lib/accurate_sine.hpp"
#include "lib/float_environment.hpp"
#include "lib/sine_stream.hpp"

#include <benchmark/benchmark.h>

#include <array>
#include <utility>
#include <cstdint>
#include <vector>

namespace {

constexpr std::int32_t run = 65536;  // samples per iteration
constexpr std::int32_t short_window = 1024;  // a short call, the same whatever the block size

void scalar_path(benchmark::State& state, double frequency, std::int32_t first)
{
    for (auto _ : state) {
        for (std::int32_t i = first; i < first + run; ++i)
            benchmark::DoNotOptimize(puretone::sine_sample(i, frequency).value_or(0));
    }
    state.SetItemsProcessed(state.iterations() * run);
}

// The block path with the sine kernel. "fallback": the share of samples the
// first estimates left open.
void block_path(benchmark::State& state, double frequency, std::int32_t first)
{
    std::array<std::int16_t, puretone::block_samples> samples;
    std::size_t open = 0;
    bool unsettled = false;
    for (auto _ : state) {
        for (std::int32_t i = first; i < first + run; i += puretone::block_samples) {
            open += puretone::sine_block(i, frequency, samples, unsettled);
            benchmark::DoNotOptimize(samples.data());
            benchmark::ClobberMemory();
        }
    }
    if (unsettled)
        state.SkipWithError("a sine was left unsettled");
    state.SetItemsProcessed(state.iterations() * run);
    state.counters["fallback"] = static_cast<double>(open) / static_cast<double>(state.iterations() * run);
}

void api_path(benchmark::State& state, double frequency, std::int32_t first)
{
    const auto window = static_cast<std::int32_t>(state.range(0));
    std::vector<std::int16_t> samples(static_cast<std::size_t>(window));
    for (auto _ : state) {
        for (std::int32_t i = first; i < first + run; i += window) {
            if (puretone_samples(frequency, i, window, samples.data()) != PURETONE_OK)
                state.SkipWithError("puretone_samples refused a valid window");
            benchmark::DoNotOptimize(samples.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * run);
}

void environment_guard(benchmark::State& state)
{
    for (auto _ : state) {
        const puretone::saved_environment saved = puretone::enter_default_environment();
        benchmark::ClobberMemory();
        puretone::leave_default_environment(saved);
    }
}

// puretone_frames in windows of 32768 frames, mono, for one sample format
// at one rate: s16 as the reference for s24, s32 and f32.
void format_path(benchmark::State& state, double frequency, std::uint32_t rate, int format_code)
{
    puretone_format format = PURETONE_FORMAT_INIT;
    format.rate = rate;
    format.sample_format = format_code;
    constexpr std::int32_t window = 32768;
    std::vector<std::int32_t> samples(window);  // 4 bytes a sample holds every format
    const std::int32_t first = 13230000;
    for (auto _ : state) {
        for (std::int32_t i = first; i < first + run; i += window) {
            if (puretone_frames(&format, frequency, i, window, samples.data()) != PURETONE_OK)
                state.SkipWithError("puretone_frames refused a valid window");
            benchmark::DoNotOptimize(samples.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * run);
}

// The share of samples each format's kernel leaves to the fallbacks
// ("fallback"), with the block path in that format: tone_block on blocks of
// 256, mono, full scale, from 300 s into the tone on.
// A signal of tones (frequency, ratio) summed in one channel, with fades
// of `fade` frames at both ends of a signal that starts at frame 0: frames
// per second against format_path's one tone.
void signal_path(benchmark::State& state, std::vector<std::pair<double, double>> parts, std::uint32_t rate,
                 int format_code, std::int64_t fade)
{
    puretone_format format = PURETONE_FORMAT_INIT;
    format.rate = rate;
    format.sample_format = format_code;
    std::vector<puretone_tone> tones;
    for (const auto& [frequency, ratio] : parts)
        tones.push_back({frequency, ratio, 0, PURETONE_LEVEL_RATIO, 0});
    puretone_signal signal = PURETONE_SIGNAL_INIT;
    signal.tones = tones.data();
    signal.tone_count = static_cast<std::uint32_t>(tones.size());
    constexpr std::int32_t window = 32768;
    const std::int32_t first = fade > 0 ? 0 : 13230000;
    signal.length = fade > 0 ? run : 0;
    signal.fade_in = signal.fade_out = fade;
    std::vector<std::int32_t> samples(window);
    for (auto _ : state) {
        for (std::int32_t i = first; i < first + run; i += window) {
            if (puretone_signal_frames(&format, &signal, i, window, samples.data()) != PURETONE_OK)
                state.SkipWithError("puretone_signal_frames refused a valid window");
            benchmark::DoNotOptimize(samples.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * run);
}

// A sweep's frames (or its inverse filter's) in windows of 32768, over
// `run` frames of a sweep ten times as long: the call's own cost, its
// per-call steps included.
void sweep_path(benchmark::State& state, int kind, std::uint32_t rate, int format_code, bool inverse)
{
    puretone_format format = PURETONE_FORMAT_INIT;
    format.rate = rate;
    format.sample_format = inverse ? PURETONE_FORMAT_F32 : format_code;
    puretone_signal signal = PURETONE_SIGNAL_INIT;
    signal.length = std::int64_t{run} * 10;
    signal.sweep = kind;
    signal.sweep_from = 20;
    signal.sweep_to = 20000;
    constexpr std::int32_t window = 32768;
    std::vector<std::int32_t> samples(window);
    const std::int32_t first = run * 4;
    for (auto _ : state) {
        for (std::int32_t i = first; i < first + run; i += window) {
            const int code = inverse ? puretone_inverse_frames(&format, &signal, i, window,
                                                               reinterpret_cast<float*>(samples.data()))
                                     : puretone_signal_frames(&format, &signal, i, window, samples.data());
            if (code != PURETONE_OK)
                state.SkipWithError("a sweep's window was refused");
            benchmark::DoNotOptimize(samples.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * run);
}

template <class Sample>
void format_fallback(benchmark::State& state, double frequency, double rate, double peak, Sample)
{
    std::array<Sample, puretone::block_samples> samples;
    std::size_t open = 0;
    bool unsettled = false;
    std::int32_t first = 13230000;
    for (auto _ : state) {
        for (std::int32_t i = first; i < first + run; i += puretone::block_samples) {
            open += puretone::tone_block<Sample>(i, {rate, frequency, peak}, samples, unsettled);
            benchmark::DoNotOptimize(samples.data());
            benchmark::ClobberMemory();
        }
        first = first < (1 << 30) ? first + run : 13230000;  // new samples each time, to count rare ones
    }
    if (unsettled)
        state.SkipWithError("a sine was left unsettled");
    state.SetItemsProcessed(state.iterations() * run);
    state.counters["fallback"] = static_cast<double>(open) / static_cast<double>(state.iterations() * run);
}

void level_call(benchmark::State& state, int level_kind, double level, int format_code)
{
    puretone_format format = PURETONE_FORMAT_INIT;
    format.sample_format = format_code;
    format.level_kind = level_kind;
    format.level = level;
    std::int32_t sample[1];
    for (auto _ : state) {
        if (puretone_frames(&format, 440.0, 13230000, 1, sample) != PURETONE_OK)
            state.SkipWithError("puretone_frames refused a valid level");
        benchmark::DoNotOptimize(sample);
    }
}

void accurate_sine(benchmark::State& state, double angle)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(puretone::accurate_sine(angle).value);
}

constexpr std::int32_t mid_file = 13230000;             // 300 s into a tone
constexpr std::int32_t angle_1e14 = 326000000;          // t about 9.98e13 at 2147483647 Hz
constexpr std::int32_t end_of_longest = 2147449500 - run;  // t about 6.6e14

}  // namespace

BENCHMARK_CAPTURE(scalar_path, 440_Hz, 440.0, mid_file);
BENCHMARK_CAPTURE(block_path, 440_Hz, 440.0, mid_file);
BENCHMARK_CAPTURE(api_path, 440_Hz, 440.0, mid_file)->Arg(32768)->Arg(short_window);
BENCHMARK_CAPTURE(scalar_path, 11025_Hz, 11025.0, mid_file);
BENCHMARK_CAPTURE(block_path, 11025_Hz, 11025.0, mid_file);
BENCHMARK_CAPTURE(api_path, 11025_Hz, 11025.0, mid_file)->Arg(32768)->Arg(short_window);
BENCHMARK_CAPTURE(scalar_path, 2147483647_Hz_1e14, 2147483647.0, angle_1e14);
BENCHMARK_CAPTURE(block_path, 2147483647_Hz_1e14, 2147483647.0, angle_1e14);
BENCHMARK_CAPTURE(scalar_path, 2147483647_Hz_end, 2147483647.0, end_of_longest);
BENCHMARK_CAPTURE(block_path, 2147483647_Hz_end, 2147483647.0, end_of_longest);
BENCHMARK_CAPTURE(api_path, 2147483647_Hz_end, 2147483647.0, end_of_longest)->Arg(32768)->Arg(short_window);

BENCHMARK(environment_guard);

BENCHMARK_CAPTURE(format_path, s16_440_Hz, 440.0, 44100, PURETONE_FORMAT_S16);
BENCHMARK_CAPTURE(format_path, s24_440_Hz, 440.0, 44100, PURETONE_FORMAT_S24);
BENCHMARK_CAPTURE(format_path, s32_440_Hz, 440.0, 44100, PURETONE_FORMAT_S32);
BENCHMARK_CAPTURE(format_path, f32_440_Hz, 440.0, 44100, PURETONE_FORMAT_F32);
BENCHMARK_CAPTURE(format_path, s16_1000_Hz_at_48000, 1000.0, 48000, PURETONE_FORMAT_S16);
BENCHMARK_CAPTURE(format_path, f32_1000_Hz_at_48000, 1000.0, 48000, PURETONE_FORMAT_F32);
BENCHMARK_CAPTURE(format_path, s16_11025_Hz, 11025.0, 44100, PURETONE_FORMAT_S16);
BENCHMARK_CAPTURE(format_path, f32_11025_Hz, 11025.0, 44100, PURETONE_FORMAT_F32);

BENCHMARK_CAPTURE(signal_path, s16_440_Hz_plain, {{440.0, 1.0}}, 44100, PURETONE_FORMAT_S16, 0);
BENCHMARK_CAPTURE(signal_path, s16_440_Hz_half, {{440.0, 0.5}}, 44100, PURETONE_FORMAT_S16, 0);
BENCHMARK_CAPTURE(signal_path, s16_60_Hz_7_kHz, {{60.0, 0.8}, {7000.0, 0.2}}, 44100, PURETONE_FORMAT_S16, 0);
BENCHMARK_CAPTURE(signal_path, f32_19_kHz_20_kHz, {{19000.0, 0.5}, {20000.0, 0.5}}, 48000, PURETONE_FORMAT_F32, 0);
BENCHMARK_CAPTURE(signal_path, s24_1_kHz_faded, {{1000.0, 0.5}}, 48000, PURETONE_FORMAT_S24, 480);

BENCHMARK_CAPTURE(sweep_path, exp_s16_48k, PURETONE_SWEEP_EXPONENTIAL, 48000, PURETONE_FORMAT_S16, false);
BENCHMARK_CAPTURE(sweep_path, exp_f32_48k, PURETONE_SWEEP_EXPONENTIAL, 48000, PURETONE_FORMAT_F32, false);
BENCHMARK_CAPTURE(sweep_path, sync_s24_48k, PURETONE_SWEEP_SYNCHRONIZED, 48000, PURETONE_FORMAT_S24, false);
BENCHMARK_CAPTURE(sweep_path, linear_s16_48k, PURETONE_SWEEP_LINEAR, 48000, PURETONE_FORMAT_S16, false);
BENCHMARK_CAPTURE(sweep_path, exp_inverse_48k, PURETONE_SWEEP_EXPONENTIAL, 48000, PURETONE_FORMAT_F32, true);

BENCHMARK_CAPTURE(format_fallback, s16_997_Hz, 997.0, 44100.0, 32767.0, std::int16_t{});
BENCHMARK_CAPTURE(format_fallback, s24_997_Hz, 997.0, 44100.0, 8388607.0, std::int32_t{});
BENCHMARK_CAPTURE(format_fallback, s32_997_Hz, 997.0, 44100.0, 2147483647.0, std::int32_t{});
BENCHMARK_CAPTURE(format_fallback, f32_997_Hz, 997.0, 44100.0, 1.0, float{});
BENCHMARK_CAPTURE(format_fallback, f32_1000_Hz_at_48000, 1000.0, 48000.0, 1.0, float{});

BENCHMARK_CAPTURE(level_call, s24_full_scale, PURETONE_LEVEL_FULL, 0.0, PURETONE_FORMAT_S24);
BENCHMARK_CAPTURE(level_call, s24_ratio, PURETONE_LEVEL_RATIO, 0.125, PURETONE_FORMAT_S24);
BENCHMARK_CAPTURE(level_call, s24_minus_18_dBFS, PURETONE_LEVEL_DBFS, -18.0, PURETONE_FORMAT_S24);
BENCHMARK_CAPTURE(level_call, f32_minus_18_dBFS, PURETONE_LEVEL_DBFS, -18.0, PURETONE_FORMAT_F32);

BENCHMARK_CAPTURE(accurate_sine, near_1, 1.0000001);
BENCHMARK_CAPTURE(accurate_sine, mid_file_440_Hz, 1661.8226306029283);
BENCHMARK_CAPTURE(accurate_sine, about_6e14, 6.6e14);

BENCHMARK_MAIN();
