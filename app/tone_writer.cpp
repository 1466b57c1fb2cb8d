// Samples come from libpuretone, as any user gets them, in chunks made in
// order (on worker threads for long tones), and are written with write(2):
// large writes, no stdio, and every failure seen where it happens.
#include "tone_writer.hpp"

#include "sample_pipeline.hpp"
#include "thread_count.hpp"

#include <puretone/puretone.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace puretone {
namespace {

// Tones shorter than this are made without workers: 2^20 samples, about
// 24 s, about 1 ms of work for one core. Measured on 2 cores, threads
// break even there (3.8 ms against 4.0 for the whole run) and save 12% at
// 120 s; below it, starting them costs what they save.
constexpr std::int32_t shortest_parallel_tone = 1 << 20;

// All of `size` bytes, or the errno of the failure. EAGAIN comes from a
// descriptor its opener made non-blocking (a shared pipe or terminal):
// poll waits until it takes more.
int write_all(int fd, const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written > 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready{fd, POLLOUT, 0};
            if (poll(&ready, 1, -1) < 0 && errno != EINTR)
                return errno;
        } else if (written < 0 && errno != EINTR) {
            return errno;
        } else if (written == 0) {
            return EIO;  // no progress and no reason: never loop on it
        }
    }
    return 0;
}

int write_chunk(void* fd, const unsigned char* bytes, std::size_t size)
{
    return write_all(*static_cast<int*>(fd), bytes, size);
}

}  // namespace

namespace {

// The data's size: an odd one is followed by a zero byte.
std::int64_t data_bytes(const tone_plan& tone)
{
    return std::int64_t{tone.sample_count} * puretone_file_frame_bytes(&tone.format);
}

bool odd_data(const tone_plan& tone)
{
    return (data_bytes(tone) & 1) != 0;
}

// puretone_inverse_frames in the form the pipeline calls.
int inverse_frames(const puretone_format* format, const puretone_signal* signal, std::int64_t first, std::int64_t count,
                   void* out)
{
    return puretone_inverse_frames(format, signal, first, count, static_cast<float*>(out));
}

}  // namespace

bool ready_to_commit(const tone_plan& tone)
{
    return tone.before_commit == nullptr || tone.before_commit(tone.commit_context);
}

std::int64_t tone_file_size(const tone_plan& tone)
{
    return puretone_header_length(&tone.format) + data_bytes(tone) + (odd_data(tone) ? 1 : 0);
}

int write_tone(int fd, const tone_plan& tone)
{
    std::array<unsigned char, PURETONE_HEADER_MAX> head;
    const int length = puretone_header_length(&tone.format);
    if (length < 0 || puretone_header(&tone.format, tone.sample_count, head.data()) != PURETONE_OK)
        return EINVAL;  // the caller checked the format and the duration: not reached
    if (const int error = write_all(fd, head.data(), static_cast<std::size_t>(length)))
        return error;
    int threads = tone.threads;
    if (threads == 0)  // counted only where they can help
        threads = tone.sample_count >= shortest_parallel_tone ? available_cpus() : 1;
    const frame_maker make = tone.inverse ? inverse_frames : puretone_signal_frames;
    if (const int error = make_in_order(tone.format, tone.signal, tone.sample_count, threads, write_chunk, &fd, make))
        return error;
    const unsigned char pad = 0;
    return odd_data(tone) ? write_all(fd, &pad, 1) : 0;
}

}  // namespace puretone
