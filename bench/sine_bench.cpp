// Samples per second of the scalar path (one C library sine per sample) and
// of the block path (the vector sine where it is built in), over the same
// indices: 440 Hz, 11025 Hz (half the samples are peaks), and 2147483647 Hz
// with far angles, about 1e14 and about 6.6e14 (the end of the longest
// file), which the block path reduces by whole turns first.
#include "wav/sine_stream.hpp"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

namespace {

constexpr std::int32_t run = 64 * puretone::block_samples;  // samples per iteration

void scalar_path(benchmark::State& state, double frequency, std::int32_t first)
{
    for (auto _ : state) {
        for (std::int32_t i = first; i < first + run; ++i)
            benchmark::DoNotOptimize(puretone::sine_sample(i, frequency));
    }
    state.SetItemsProcessed(state.iterations() * run);
}

void block_path(benchmark::State& state, double frequency, std::int32_t first)
{
    std::array<std::int16_t, puretone::block_samples> samples;
    bool with_cosines = false;  // as the writer decides it, from the block before
    for (auto _ : state) {
        for (std::int32_t i = first; i < first + run; i += puretone::block_samples) {
            with_cosines = puretone::sine_block(i, frequency, samples, with_cosines) * 8 > samples.size();
            benchmark::DoNotOptimize(samples.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * run);
}

constexpr std::int32_t mid_file = 13230000;             // 300 s into a tone
constexpr std::int32_t angle_1e14 = 326000000;          // t about 9.98e13 at 2147483647 Hz
constexpr std::int32_t end_of_longest = 2147449500 - run;  // t about 6.6e14

}  // namespace

BENCHMARK_CAPTURE(scalar_path, 440_Hz, 440.0, mid_file);
BENCHMARK_CAPTURE(block_path, 440_Hz, 440.0, mid_file);
BENCHMARK_CAPTURE(scalar_path, 11025_Hz, 11025.0, mid_file);
BENCHMARK_CAPTURE(block_path, 11025_Hz, 11025.0, mid_file);
BENCHMARK_CAPTURE(scalar_path, 2147483647_Hz_1e14, 2147483647.0, angle_1e14);
BENCHMARK_CAPTURE(block_path, 2147483647_Hz_1e14, 2147483647.0, angle_1e14);
BENCHMARK_CAPTURE(scalar_path, 2147483647_Hz_end, 2147483647.0, end_of_longest);
BENCHMARK_CAPTURE(block_path, 2147483647_Hz_end, 2147483647.0, end_of_longest);

BENCHMARK_MAIN();
