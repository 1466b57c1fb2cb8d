// Samples come from libpuretone, as any user gets them, a chunk at a time
// into one buffer, and are written with write(2): large writes, no stdio,
// and every failure seen where it happens.
#include "tone_writer.hpp"

#include <puretone/puretone.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace puretone {
namespace {

// 64 KiB a write: at the speed samples are made, the number of write calls
// shows in the run time; larger gains nothing measurable.
constexpr std::size_t chunk_samples = 32768;

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

}  // namespace

int write_tone(int fd, double frequency, std::int32_t sample_count)
{
    std::array<unsigned char, 44> head;
    if (puretone_wav_header(sample_count, head.data()) != PURETONE_OK)
        return EINVAL;  // the caller checked the duration: not reached
    if (const int error = write_all(fd, head.data(), head.size()))
        return error;
    static std::array<std::int16_t, chunk_samples> samples;
    static std::array<unsigned char, 2 * chunk_samples> bytes;
    for (std::int32_t first = 0; first < sample_count;) {
        const auto count = static_cast<std::size_t>(std::min<std::int64_t>(chunk_samples, sample_count - first));
        if (puretone_samples(frequency, first, static_cast<std::int64_t>(count), samples.data()) != PURETONE_OK)
            return EINVAL;  // a whole frequency of 32 bits and N <= 2^31: not reached
        for (std::size_t k = 0; k < count; ++k) {  // little-endian, whatever the host
            const auto bits = static_cast<std::uint16_t>(samples[k]);
            bytes[2 * k] = static_cast<unsigned char>(bits & 0xFF);
            bytes[2 * k + 1] = static_cast<unsigned char>(bits >> 8);
        }
        if (const int error = write_all(fd, bytes.data(), 2 * count))
            return error;
        first += static_cast<std::int32_t>(count);
    }
    return 0;
}

}  // namespace puretone
