// What every call promises besides its samples: no allocation, on the first
// call and every one, whatever the format, level or fallback; a 16 KiB
// stack with lazy binding; nothing kept per thread; and nothing of the
// caller's MPFR state (exponent range, GMP allocators) reaches a sample.
#include <puretone/puretone.h>

#include "lib/sine_stream.hpp"
#include "lib/sweep_accurate.hpp"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PURETONE_SANITIZED 1  // the sanitizers own malloc, pad every frame, and keep memory by design
#endif

namespace {

// Counted while `counting` is set: every allocation in the process.
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

}  // namespace

#if !defined(PURETONE_SANITIZED)
// The test's own allocator, in front of glibc's for the whole process
// (the library included): the executable's definitions take precedence.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t size)
{
    allocations += counting.load();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size)
{
    allocations += counting.load();
    return __libc_calloc(count, size);
}
void* realloc(void* old, std::size_t size)
{
    allocations += counting.load();
    return __libc_realloc(old, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size)
{
    allocations += counting.load();
    return __libc_memalign(alignment, size);
}
void* memalign(std::size_t alignment, std::size_t size)
{
    allocations += counting.load();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size)
{
    allocations += counting.load();
    *out = __libc_memalign(alignment, size);
    return *out == nullptr ? ENOMEM : 0;
}
void free(void* block)
{
    __libc_free(block);
}
}
#endif

namespace {

// A request for each path: the coarse and fine kernels, the accurate path
// (s32, 997 Hz: frame 13266000 + k takes it once), each level kind with its
// peak (a dBFS level's own Ziv loop), f32 zero crossings, peak-heavy tones.
struct request {
    const char* name;
    std::uint32_t rate;
    int format, level_kind;
    double level, frequency;
    std::int64_t start, count;
    std::uint32_t channels;
};
constexpr request requests[] = {
    {"s16 440 Hz, a last block not whole words", 44100, PURETONE_FORMAT_S16, PURETONE_LEVEL_FULL, 0, 440, 13230000, 4093, 1},
    {"s32 997 Hz, the accurate path", 44100, PURETONE_FORMAT_S32, PURETONE_LEVEL_FULL, 0, 997, 13266000, 256, 1},
    {"s24 -18 dBFS 1 kHz, stereo", 48000, PURETONE_FORMAT_S24, PURETONE_LEVEL_DBFS, -18, 1000, 0, 4096, 2},
    {"f32 1 kHz, zero crossings", 48000, PURETONE_FORMAT_F32, PURETONE_LEVEL_FULL, 0, 1000, 0, 4096, 1},
    {"s32 ratio 0.5, 11025 Hz", 44100, PURETONE_FORMAT_S32, PURETONE_LEVEL_RATIO, 0.5, 11025, 70000, 4096, 1},
    {"f32 -20 dBFS 11025 Hz", 44100, PURETONE_FORMAT_F32, PURETONE_LEVEL_DBFS, -20, 11025, 70000, 4096, 1},
};
constexpr std::size_t most_values = 4096 * 2;

int make(const request& r, std::int32_t* out)
{
    puretone_format format = PURETONE_FORMAT_INIT;
    format.rate = r.rate;
    format.sample_format = r.format;
    format.level_kind = r.level_kind;
    format.level = r.level;
    format.channels = r.channels;
    return puretone_frames(&format, r.frequency, r.start, r.count, out);
}

// Every request, and each other call, into fixed buffers; the codes summed
// (0 when all succeed).
[[maybe_unused]] int every_call(std::int32_t (&out)[most_values])
{
    int codes = 0;
    for (const request& r : requests)
        codes |= -make(r, out);
    // A signal: two tones, one in dB, a phase, fades at both ends; f32,
    // so that its first frames take the exact path.
    const puretone_tone tones[] = {{1000, -6, 0.25, PURETONE_LEVEL_DBFS, 1}, {997, 0.25, 0, PURETONE_LEVEL_RATIO, 0}};
    puretone_signal signal = PURETONE_SIGNAL_INIT;
    signal.tones = tones;
    signal.tone_count = 2;
    signal.length = 4096;
    signal.fade_in = signal.fade_out = 480;
    puretone_format stereo = PURETONE_FORMAT_INIT;
    stereo.rate = 48000;
    stereo.sample_format = PURETONE_FORMAT_F32;
    stereo.channels = 2;
    codes |= -puretone_signal_frames(&stereo, &signal, 0, 4096, out);
    // Sweeps: a synchronized one (its length from the multiword loop), its
    // inverse filter's end, a linear one through 0 Hz with exact zeros, and
    // the multiword loop at its top precision on each kind.
    puretone_signal sweep = PURETONE_SIGNAL_INIT;
    sweep.length = 48000;
    sweep.fade_in = sweep.fade_out = 480;
    sweep.sweep = PURETONE_SWEEP_SYNCHRONIZED;
    sweep.sweep_from = 20;
    sweep.sweep_to = 20000;
    puretone_format mono = PURETONE_FORMAT_INIT;
    mono.rate = 48000;
    mono.sample_format = PURETONE_FORMAT_F32;
    codes |= -puretone_signal_frames(&mono, &sweep, 0, 4096, out);
    const std::int64_t length = puretone_signal_length(&mono, &sweep);
    codes |= -puretone_inverse_frames(&mono, &sweep, length - 4096, 4096, reinterpret_cast<float*>(out));
    sweep.sweep = PURETONE_SWEEP_LINEAR;
    sweep.sweep_from = -12000;
    sweep.sweep_to = 12000;
    codes |= -puretone_signal_frames(&mono, &sweep, 0, 4096, out);
    for (const puretone::sweep_kind kind :
         {puretone::sweep_kind::exponential, puretone::sweep_kind::synchronized, puretone::sweep_kind::linear}) {
        const puretone::sweep_terms terms{kind, 20, 20000, 48000, 48000, kind == puretone::sweep_kind::synchronized ? 2 : 0};
        codes |= puretone::accurate_sweep_sine_at(terms, 12345, 512).precision != 512;
        if (kind != puretone::sweep_kind::linear)
            codes |= puretone::accurate_inverse_sample(terms, 12345, 0.5, 1.0).precision < 0;
    }
    static std::int16_t samples[512];  // not on the small stack, nor in its thread's TLS; one thread at a time
    unsigned char header[PURETONE_HEADER_MAX];
    puretone_format format = PURETONE_FORMAT_INIT;
    codes |= -puretone_samples(11025, 70000, 512, samples);
    codes |= puretone_header_length(&format) < 0;
    codes |= puretone_longest_frames(&format) < 0;
    codes |= -puretone_header(&format, 1000, header);
    codes |= -puretone_wav_header(1000, header);
    codes |= puretone_strerror(PURETONE_ERROR_UNSETTLED) == nullptr || puretone_version() == nullptr;
    return codes;
}

TEST(call_contract, no_call_allocates_on_the_first_call_or_any_other)
{
#if defined(PURETONE_SANITIZED)
    GTEST_SKIP() << "the sanitizers replace malloc";
#else
    static std::int32_t out[most_values];
    counting = true;
    const int codes = every_call(out) | every_call(out);
    // The fallbacks forced for every sample type: a first bound of 2^-20
    // sends about one sample in 16 past the kernel, some to the accurate path.
    bool unsettled = false;
    std::int16_t s16[puretone::block_samples];
    float f32[puretone::block_samples];
    for (std::int32_t first = 13266000; first < 13266000 + 8 * puretone::block_samples; first += puretone::block_samples) {
        puretone::tone_block<std::int16_t>(first, {44100, 997, 32767}, s16, unsettled, {0x1p-20});
        puretone::tone_block<std::int32_t>(first, {44100, 997, 2147483647}, std::span(out, 256), unsettled, {0x1p-20});
        puretone::tone_block<float>(first, {48000, 1000, 1}, f32, unsettled, {0x1p-20});
    }
    counting = false;
    EXPECT_EQ(codes, 0);
    EXPECT_FALSE(unsettled);
    EXPECT_EQ(allocations.load(), 0);
    // The counter counts: one allocation made on purpose is seen (kept in
    // a volatile, so that no compiler leaves out the pair).
    static void* volatile kept;
    counting = true;
    kept = std::malloc(16);
    std::free(kept);
    counting = false;
    EXPECT_EQ(allocations.load(), 1);
#endif
}

TEST(call_contract, a_16_kib_stack_suffices_on_the_first_call_with_lazy_binding)
{
#if defined(PURETONE_SANITIZED)
    GTEST_SKIP() << "the sanitizers' instrumentation needs several times the stack of the code";
#else
    // The first calls of this process, in the thread: the library's calls
    // into libm are bound then, on this stack, unless LD_BIND_NOW is set.
    if (std::getenv("LD_BIND_NOW") != nullptr)
        GTEST_SKIP() << "LD_BIND_NOW is set: the binding would not happen on the small stack";
    const std::size_t stack_size = std::max<std::size_t>(16 * 1024, PTHREAD_STACK_MIN);
    if (stack_size > 16 * 1024)
        std::printf("[ SKIPPED  ] 16 KiB: this system's least stack is %zu bytes, which is used\n", stack_size);
    struct job {
        std::int32_t out[most_values];
        int codes;
    };
    static job work;
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, stack_size), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, [](void* argument) -> void* {
        auto* w = static_cast<job*>(argument);
        w->codes = every_call(w->out);
        return nullptr;
    }, &work), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(work.codes, 0);
    static std::int32_t again[most_values];
    EXPECT_EQ(every_call(again), 0);
    EXPECT_EQ(std::memcmp(work.out, again, sizeof again), 0);  // the last request's samples
#endif
}

// Resident memory, in KiB, from /proc/self/status.
[[maybe_unused]] long resident_kib()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

TEST(call_contract, ten_thousand_short_threads_with_dbfs_calls_leave_nothing_behind)
{
#if defined(PURETONE_SANITIZED)
    GTEST_SKIP() << "the sanitizers keep memory of finished threads by design";
#else
    const auto short_threads = [](int count) {
        for (int k = 0; k < count; ++k)
            std::thread([] {
                std::int32_t out[most_values];
                if (make(requests[2], out) != PURETONE_OK || make(requests[5], out) != PURETONE_OK)
                    std::abort();
            }).join();
    };
    short_threads(500);  // the thread stacks glibc caches, and the first pages touched
    const long before = resident_kib();
    ASSERT_GT(before, 0) << "no VmRSS in /proc/self/status";
    short_threads(10000);
    const long after = resident_kib();
    if (PURETONE_EMULATED) {
        std::printf("[ SKIPPED  ] resident memory under an emulator is the emulator's: %ld KiB, then %ld\n", before,
                    after);
        return;
    }
    // A leak of even 100 bytes a thread would add about 1 MiB.
    EXPECT_LT(after - before, 512) << before << " KiB before, " << after << " KiB after";
#endif
}

// Custom GMP allocators that count, as a caller's might.
std::atomic<long> gmp_allocations{0};
void* gmp_allocate(std::size_t size)
{
    ++gmp_allocations;
    return std::malloc(size);
}
void* gmp_reallocate(void* old, std::size_t, std::size_t size)
{
    ++gmp_allocations;
    return std::realloc(old, size);
}
void gmp_free(void* block, std::size_t)
{
    std::free(block);
}

TEST(call_contract, the_callers_mpfr_state_changes_no_sample)
{
    std::vector<std::vector<std::int32_t>> expected;
    for (const request& r : requests) {
        expected.emplace_back(most_values);
        ASSERT_EQ(make(r, expected.back().data()), PURETONE_OK) << r.name;
    }
    const mpfr_exp_t emax = mpfr_get_emax(), emin = mpfr_get_emin();
    void* (*allocate)(std::size_t);
    void* (*reallocate)(void*, std::size_t, std::size_t);
    void (*release)(void*, std::size_t);
    mp_get_memory_functions(&allocate, &reallocate, &release);
    ASSERT_EQ(mpfr_set_emax(8), 0);  // 2^8: most levels' peaks and every F would overflow
    ASSERT_EQ(mpfr_set_emin(-8), 0);
    mp_set_memory_functions(gmp_allocate, gmp_reallocate, gmp_free);
    mpfr_set_default_prec(2);
    for (std::size_t k = 0; k < std::size(requests); ++k) {
        std::vector<std::int32_t> got(most_values);
        ASSERT_EQ(make(requests[k], got.data()), PURETONE_OK) << requests[k].name;
        EXPECT_EQ(got, expected[k]) << requests[k].name;
    }
    EXPECT_EQ(gmp_allocations.load(), 0);
    mp_set_memory_functions(allocate, reallocate, release);
    mpfr_set_default_prec(53);
    mpfr_set_emax(emax);
    mpfr_set_emin(emin);
}

}  // namespace
