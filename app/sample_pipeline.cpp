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

#include "interrupt.hpp"

#include <puretone/puretone.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/mman.h>

namespace puretone {
namespace {

// Without workers: 64 KiB a chunk. Chunks of 32 KiB to 1 MiB measured the
// same; this one stays in cache between making and writing.
constexpr std::size_t serial_chunk_samples = 32768;
// With workers: chunks of 256 KiB. On 2 cores, 128 KiB to 512 KiB measured
// the same once the ring sat on huge pages (before, 256 KiB was 3% to 9%
// ahead). With many threads they shrink, down to 32 KiB, so that the ring
// keeps 4 a thread.
constexpr std::size_t largest_chunk_samples = 131072;
constexpr std::size_t smallest_chunk_samples = 16384;
constexpr std::size_t slots_per_thread = 4;
// The ring's bytes at most: with the program's own pages (about 4 MB) and
// some 10 KB a thread, a run stays well under 16 MB resident.
constexpr std::size_t most_ring_bytes = std::size_t{4} << 20;
constexpr std::size_t huge_page = std::size_t{2} << 20;  // x86-64's and AArch64's (4 KiB base pages)

// Samples [first, first + count) into `samples`, in file byte order.
int make_chunk(double frequency, std::int64_t first, std::int16_t* samples, std::size_t count)
{
    if (puretone_samples(frequency, first, static_cast<std::int64_t>(count), samples) != PURETONE_OK)
        return EINVAL;  // a frequency of the command line and N <= 2^31: not reached
    if constexpr (std::endian::native == std::endian::big)
        for (std::size_t k = 0; k < count; ++k) {
            const auto bits = static_cast<std::uint16_t>(samples[k]);
            samples[k] = static_cast<std::int16_t>(static_cast<std::uint16_t>(bits << 8 | bits >> 8));
        }
    return 0;
}

const unsigned char* bytes_of(const std::int16_t* samples)
{
    return reinterpret_cast<const unsigned char*>(samples);  // the file's bytes, as make_chunk left them
}

int make_serially(double frequency, std::int32_t sample_count, chunk_consumer consume, void* context)
{
    static std::int16_t samples[serial_chunk_samples];
    for (std::int64_t first = 0; first < sample_count; first += serial_chunk_samples) {
        const auto count = static_cast<std::size_t>(std::min<std::int64_t>(serial_chunk_samples, sample_count - first));
        if (const int error = make_chunk(frequency, first, samples, count))
            return error;
        if (const int error = consume(context, bytes_of(samples), 2 * count))
            return error;
    }
    return 0;
}

struct pipeline {
    double frequency;
    std::int32_t sample_count;
    std::size_t chunk_samples;
    std::int64_t chunks;
    std::int64_t slots;
    std::int16_t* ring = nullptr;        // slots * chunk_samples, not zeroed: threads touch it as they fill it
    std::unique_ptr<std::int64_t[]> made;  // per slot: the chunk it holds whole, or -1
    std::mutex lock;
    std::condition_variable slot_freed;  // workers wait here
    std::condition_variable chunk_made;  // the caller waits here
    std::int64_t next_chunk = 0;         // the next one untaken
    std::int64_t consumed = 0;           // chunks the caller is done with
    bool stop = false;
    int error = 0;

    std::int16_t* slot_of(std::int64_t chunk)
    {
        return ring + static_cast<std::size_t>(chunk % slots) * chunk_samples;
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
        const int failure = make_chunk(frequency, chunk * static_cast<std::int64_t>(chunk_samples), slot_of(chunk),
                                       count_of(chunk));
        held.lock();
        if (failure != 0)
            fail(failure);
        made_in_slot_of(chunk) = chunk;
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
            const int failure = consume(context, bytes_of(p.slot_of(chunk)), 2 * p.count_of(chunk));
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

int make_in_order(double frequency, std::int32_t sample_count, int threads, chunk_consumer consume, void* context)
{
    if (threads <= 1)
        return make_serially(frequency, sample_count, consume, context);
    const std::size_t ring_slots = slots_per_thread * static_cast<std::size_t>(threads);
    const std::size_t chunk_samples = std::clamp(most_ring_bytes / 2 / ring_slots / 1024 * 1024,
                                                 smallest_chunk_samples, largest_chunk_samples);
    const std::int64_t chunks = (sample_count + static_cast<std::int64_t>(chunk_samples) - 1) /
                                static_cast<std::int64_t>(chunk_samples);
    const auto slots = static_cast<std::int64_t>(std::min(ring_slots, most_ring_bytes / (2 * chunk_samples)));
    // The caller is one of the threads; more workers than chunks or slots
    // would only wait.
    const std::int64_t workers = std::min<std::int64_t>({threads - 1, chunks - 1, slots - 1});
    if (workers < 1)
        return make_serially(frequency, sample_count, consume, context);

    pipeline p;
    p.frequency = frequency;
    p.sample_count = sample_count;
    p.chunk_samples = chunk_samples;
    p.chunks = chunks;
    p.slots = slots;
    // On huge pages where the kernel gives them on request: one fault for
    // the ring, where 4 KiB pages took 512 faults and about 1 ms before the
    // first chunk was made (a 120 s tone took 7.9 ms instead of 6.3).
    const std::size_t ring_bytes =
        (static_cast<std::size_t>(slots) * chunk_samples * 2 + huge_page - 1) / huge_page * huge_page;
    // Without the memory for the ring or the records, one thread does it all.
    p.ring = static_cast<std::int16_t*>(std::aligned_alloc(huge_page, ring_bytes));
    p.made.reset(new (std::nothrow) std::int64_t[static_cast<std::size_t>(slots)]);
    const std::unique_ptr<pthread_t[]> started(new (std::nothrow) pthread_t[static_cast<std::size_t>(workers)]);
    if (p.ring == nullptr || !p.made || !started) {
        std::free(p.ring);
        return make_serially(frequency, sample_count, consume, context);
    }
    madvise(p.ring, ring_bytes, MADV_HUGEPAGE);  // only a hint: any failure leaves small pages
    std::fill_n(p.made.get(), slots, -1);

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
