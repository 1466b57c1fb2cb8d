// Chunks of samples from libpuretone, which is stateless and thread-safe, so
// any thread may make any chunk; the bytes depend on the chunk's indices
// alone, never on which thread made it or when. So every thread count
// writes the same file.
//
// With workers: a ring of slots, chunk c in slot c % slots. Threads take the
// chunks in order, each once its slot has been consumed, fill it without the
// lock and mark it made. The caller consumes each chunk in turn, without the
// lock, and frees its slot; while the next one is still being made, it
// makes the next untaken chunk itself, and sleeps only when every free slot
// is taken. So the caller is one of the threads that make samples, and a
// thread woken from a sleep is rarely needed at once: measured, a caller
// that only waited and wrote was moved onto a worker's CPU and lost a third
// of the overlap. Memory is the ring, whatever the tone's length. On a
// failure `stop` ends every wait, and each thread finishes at most the
// chunk it is making.
#include "sample_pipeline.hpp"

#include "output/take_back.hpp"

#include <puretone/puretone.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/mman.h>

namespace puretone {
namespace {

// Without workers: 256 KiB a chunk, which stays in cache between making
// and writing. Chunks of 32 KiB to 1 MiB make samples as fast, but each
// call with a dBFS level works out its peak again, about 1 us: at 64 KiB
// that was a tenth of an s24 chunk's time. (Sizes here are of 16-bit
// mono; wider frames take as many bytes in fewer frames.)
constexpr std::size_t serial_chunk_bytes = 262144;
// With workers: chunks of 256 KiB. On 2 cores, 128 KiB to 512 KiB measured
// the same once the ring sat on huge pages (before, 256 KiB was 3% to 9%
// ahead). With many threads they shrink, down to 32 KiB, so that the ring
// keeps 4 a thread.
constexpr std::size_t largest_chunk_bytes = 262144;
constexpr std::size_t smallest_chunk_bytes = 32768;
constexpr std::size_t slots_per_thread = 4;
// The ring's bytes at most: with the program's own pages (about 4 MB) and
// some 10 KB a thread, a run stays well under 16 MB resident.
constexpr std::size_t most_ring_bytes = std::size_t{4} << 20;
constexpr std::size_t huge_page = std::size_t{2} << 20;  // x86-64's and AArch64's (4 KiB base pages)

// A frame in memory, as puretone_signal_frames writes it, and in the file, for a
// format the command line checked (so the counts are positive).
std::size_t memory_frame_bytes(const puretone_format& format)
{
    return static_cast<std::size_t>(puretone_frame_bytes(&format));
}

std::size_t file_frame_bytes(const puretone_format& format)
{
    return static_cast<std::size_t>(puretone_file_frame_bytes(&format));
}

// The loop below gets a copy for each instruction set, chosen when the
// program loads: with SSSE3 or wider it becomes byte shuffles. Not under
// the thread sanitizer, whose runtime is not yet set up when the choice is
// made.
#if defined(__x86_64__) && defined(__ELF__) && !defined(__SANITIZE_THREAD__)
#define PURETONE_PACK_CLONES __attribute__((target_clones("arch=x86-64-v3", "arch=x86-64-v2", "default")))
#else
#define PURETONE_PACK_CLONES
#endif

// 24-bit samples, sign-extended in 32 bits, packed into 3 bytes each, low
// byte first, in place: sample k's 4 bytes at 4k become 3 at 3k. Forward,
// every write lands below the samples not yet read: a step of 4 samples
// reads [16j, 16j + 16) and writes [12j, 12j + 16), whose last 4 bytes the
// next step (or the one sample after it) writes over, or which lie past
// the packed samples at the end, inside the 4 bytes a sample the buffer
// holds. On little-endian CPUs a step is one byte shuffle.
PURETONE_PACK_CLONES
void pack_24(unsigned char* bytes, std::size_t count)
{
    std::size_t k = 0;
    if constexpr (std::endian::native == std::endian::little) {
        using sixteen_bytes = unsigned char __attribute__((vector_size(16)));
        for (; k + 4 <= count; k += 4) {
            sixteen_bytes four;
            std::memcpy(&four, bytes + 4 * k, 16);
#if defined(__clang__)
            four = __builtin_shufflevector(four, four, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 0, 0, 0, 0);
#else
            constexpr sixteen_bytes low_three = {0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 0, 0, 0, 0};
            four = __builtin_shuffle(four, low_three);
#endif
            std::memcpy(bytes + 3 * k, &four, 16);
        }
    }
    for (; k < count; ++k) {
        std::int32_t sample;
        std::memcpy(&sample, bytes + 4 * k, 4);
        const auto value = static_cast<std::uint32_t>(sample);
        bytes[3 * k] = static_cast<unsigned char>(value);
        bytes[3 * k + 1] = static_cast<unsigned char>(value >> 8);
        bytes[3 * k + 2] = static_cast<unsigned char>(value >> 16);
    }
}

// Frames [first, first + count) into `bytes`, then turned into the file's
// bytes in place: each sample low byte first, s24 packed from 4 bytes into
// 3. The size in the file.
std::size_t make_chunk(const puretone_format& format, const puretone_signal& signal, frame_maker make, std::int64_t first,
                       unsigned char* bytes, std::size_t count, int& error)
{
    if (make(&format, &signal, first, static_cast<std::int64_t>(count), bytes) != PURETONE_OK) {
        // A format and signal the command line checked, N <= 2^31: only
        // PURETONE_ERROR_UNSETTLED is left, which no known tone reaches.
        // EDOM, which no file operation gives, carries it to the message.
        error = EDOM;
        return 0;
    }
    const std::size_t samples = count * format.channels;
    if (format.sample_format == PURETONE_FORMAT_S16) {
        if constexpr (std::endian::native == std::endian::big)
            for (std::size_t k = 0; k < samples; ++k)
                std::swap(bytes[2 * k], bytes[2 * k + 1]);
    } else if (format.sample_format == PURETONE_FORMAT_S24) {
        pack_24(bytes, samples);
    } else if constexpr (std::endian::native == std::endian::big) {
        for (std::size_t k = 0; k < samples; ++k) {
            std::swap(bytes[4 * k], bytes[4 * k + 3]);
            std::swap(bytes[4 * k + 1], bytes[4 * k + 2]);
        }
    }
    error = 0;
    return count * file_frame_bytes(format);
}

int make_serially(const puretone_format& format, const puretone_signal& signal, frame_maker make,
                  std::int32_t frame_count, chunk_consumer consume, void* context)
{
    // 32-bit aligned for the samples puretone_signal_frames writes into it.
    alignas(4) static unsigned char bytes[serial_chunk_bytes];
    const std::int64_t chunk_frames = static_cast<std::int64_t>(serial_chunk_bytes / memory_frame_bytes(format));
    for (std::int64_t first = 0; first < frame_count; first += chunk_frames) {
        const auto count = static_cast<std::size_t>(std::min<std::int64_t>(chunk_frames, frame_count - first));
        int error = 0;
        const std::size_t size = make_chunk(format, signal, make, first, bytes, count, error);
        if (error != 0)
            return error;
        if (const int failure = consume(context, bytes, size))
            return failure;
    }
    return 0;
}

struct pipeline {
    puretone_format format;
    const puretone_signal* signal;
    frame_maker make;
    std::int32_t sample_count;           // frames
    std::size_t chunk_samples;           // frames a chunk
    std::size_t slot_bytes;              // chunk_samples frames in memory
    std::int64_t chunks;
    std::int64_t slots;
    unsigned char* ring = nullptr;       // slots * slot_bytes, not zeroed: threads touch it as they fill it
    std::unique_ptr<std::int64_t[]> made;       // per slot: the chunk it holds whole, or -1
    std::unique_ptr<std::size_t[]> made_bytes;  // per slot: the file's bytes it holds
    std::mutex lock;
    std::condition_variable slot_freed;  // workers wait here
    std::condition_variable chunk_made;  // the caller waits here
    std::int64_t next_chunk = 0;         // the next one untaken
    std::int64_t consumed = 0;           // chunks the caller is done with
    bool stop = false;
    int error = 0;

    unsigned char* slot_of(std::int64_t chunk)
    {
        return ring + static_cast<std::size_t>(chunk % slots) * slot_bytes;
    }
    std::int64_t& made_in_slot_of(std::int64_t chunk) { return made[static_cast<std::size_t>(chunk % slots)]; }
    std::size_t count_of(std::int64_t chunk) const
    {
        const auto size = static_cast<std::int64_t>(chunk_samples);
        return static_cast<std::size_t>(std::min(size, sample_count - chunk * size));
    }
    bool can_take() const { return next_chunk < chunks && next_chunk < consumed + slots; }

    // Takes the next chunk, makes it unlocked, marks it made; `held` locked
    // before and after.
    void make_next(std::unique_lock<std::mutex>& held)
    {
        const std::int64_t chunk = next_chunk++;
        held.unlock();
        int failure = 0;
        const std::size_t size = make_chunk(format, *signal, make, chunk * static_cast<std::int64_t>(chunk_samples),
                                            slot_of(chunk), count_of(chunk), failure);
        held.lock();
        if (failure != 0)
            fail(failure);
        made_in_slot_of(chunk) = chunk;
        made_bytes[static_cast<std::size_t>(chunk % slots)] = size;
    }
    void fail(int failure)
    {
        if (!stop) {
            stop = true;
            error = failure;
        }
        slot_freed.notify_all();
        chunk_made.notify_one();
    }
};

void* work(void* argument)
{
    pipeline& p = *static_cast<pipeline*>(argument);
    std::unique_lock<std::mutex> held(p.lock);
    while (true) {
        p.slot_freed.wait(held, [&p] { return p.stop || p.next_chunk >= p.chunks || p.can_take(); });
        if (p.stop || p.next_chunk >= p.chunks)
            return nullptr;
        p.make_next(held);
        p.chunk_made.notify_one();
    }
}

int consume_in_order(pipeline& p, chunk_consumer consume, void* context)
{
    std::unique_lock<std::mutex> held(p.lock);
    for (std::int64_t chunk = 0; chunk < p.chunks && !p.stop;) {
        if (p.made_in_slot_of(chunk) == chunk) {
            held.unlock();
            const std::size_t size = p.made_bytes[static_cast<std::size_t>(chunk % p.slots)];
            const int failure = consume(context, p.slot_of(chunk), size);
            held.lock();
            if (failure != 0)
                p.fail(failure);
            p.consumed = ++chunk;
            p.slot_freed.notify_all();
        } else if (p.can_take()) {
            p.make_next(held);
        } else {
            p.chunk_made.wait(held);
        }
    }
    return p.error;
}

}  // namespace

int make_in_order(const puretone_format& format, const puretone_signal& signal, std::int32_t sample_count, int threads,
                  chunk_consumer consume, void* context, frame_maker make)
{
    if (threads <= 1)
        return make_serially(format, signal, make, sample_count, consume, context);
    // Frames of any width come as many bytes a chunk as 16-bit mono ones:
    // chunks are whole blocks of frames, at least one.
    const std::size_t frame = memory_frame_bytes(format);
    const std::size_t ring_slots = slots_per_thread * static_cast<std::size_t>(threads);
    const std::size_t chunk_bytes = std::clamp(most_ring_bytes / ring_slots, smallest_chunk_bytes, largest_chunk_bytes);
    const std::size_t chunk_samples = std::max<std::size_t>(chunk_bytes / frame / 1024 * 1024, 1024);
    const std::int64_t chunks = (sample_count + static_cast<std::int64_t>(chunk_samples) - 1) /
                                static_cast<std::int64_t>(chunk_samples);
    const auto slots = static_cast<std::int64_t>(std::min(ring_slots, most_ring_bytes / (frame * chunk_samples)));
    // The caller is one of the threads; more workers than chunks or slots
    // would only wait.
    const std::int64_t workers = std::min<std::int64_t>({threads - 1, chunks - 1, slots - 1});
    if (workers < 1)
        return make_serially(format, signal, make, sample_count, consume, context);

    pipeline p;
    p.format = format;
    p.signal = &signal;
    p.make = make;
    p.slot_bytes = chunk_samples * frame;
    p.sample_count = sample_count;
    p.chunk_samples = chunk_samples;
    p.chunks = chunks;
    p.slots = slots;
    // On huge pages where the kernel gives them on request: one fault for
    // the ring, where 4 KiB pages took 512 faults and about 1 ms before the
    // first chunk was made (a 120 s tone took 7.9 ms instead of 6.3).
    const std::size_t ring_bytes =
        (static_cast<std::size_t>(slots) * p.slot_bytes + huge_page - 1) / huge_page * huge_page;
    // Without the memory for the ring or the records, one thread does it all.
    p.ring = static_cast<unsigned char*>(std::aligned_alloc(huge_page, ring_bytes));
    p.made.reset(new (std::nothrow) std::int64_t[static_cast<std::size_t>(slots)]);
    p.made_bytes.reset(new (std::nothrow) std::size_t[static_cast<std::size_t>(slots)]);
    const std::unique_ptr<pthread_t[]> started(new (std::nothrow) pthread_t[static_cast<std::size_t>(workers)]);
    if (p.ring == nullptr || !p.made || !p.made_bytes || !started) {
        std::free(p.ring);
        return make_serially(format, signal, make, sample_count, consume, context);
    }
    madvise(p.ring, ring_bytes, MADV_HUGEPAGE);  // only a hint: any failure leaves small pages
    std::fill_n(p.made.get(), slots, -1);
    std::fill_n(p.made_bytes.get(), slots, 0);

    // Workers start with every signal blocked but the crash signals, so
    // that the caller's handlers, which take back the output, run on the
    // caller's thread, and a fault on a worker takes back too.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    sigset_t workers_mask = all;
    free_crash_signals(workers_mask, before);
    pthread_sigmask(SIG_SETMASK, &workers_mask, nullptr);
    std::int64_t running = 0;
    while (running < workers && pthread_create(&started[static_cast<std::size_t>(running)], nullptr, work, &p) == 0)
        ++running;  // fewer workers where one cannot start, or none: the caller makes the rest
    pthread_sigmask(SIG_SETMASK, &before, nullptr);

    const int error = consume_in_order(p, consume, context);
    {
        std::lock_guard<std::mutex> held(p.lock);
        p.stop = true;
    }
    p.slot_freed.notify_all();
    for (std::int64_t k = 0; k < running; ++k)
        pthread_join(started[static_cast<std::size_t>(k)], nullptr);
    std::free(p.ring);
    return error;
}

}  // namespace puretone
