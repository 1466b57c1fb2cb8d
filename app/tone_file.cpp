// Opens, writes, flushes and closes the output, and checks every step: a
// full disk must not end in a truncated file and a success status.
#include "tone_file.hpp"

#include "wav/sine_stream.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace puretone {
namespace {

void report(const char* failure, const char* path, int error)
{
    std::fprintf(stderr, "puretone: %s '%s': %s\n", failure, path, std::strerror(error));
}

bool same_file(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Takes back a regular file that was only partly written. The path is checked
// to still name the file written, so nothing else is ever removed; a file
// reached through a symbolic link, or one that cannot be unlinked, is emptied.
void discard(const char* path, const struct stat& written)
{
    struct stat now{};
    if (lstat(path, &now) == 0 && same_file(now, written) && unlink(path) == 0)
        return;
    if (stat(path, &now) == 0 && same_file(now, written))
        static_cast<void>(truncate(path, 0) == 0);  // best effort; the failure is reported already
}

}  // namespace

bool write_tone_file(const char* path, const wav_header& header, double frequency,
                     std::int32_t sample_count)
{
    std::FILE* out = std::fopen(path, "w");
    if (out == nullptr) {
        report("cannot open", path, errno);
        return false;
    }
    // 64 KiB writes instead of the default 4 KiB: at the speed the samples
    // are made, the number of write calls shows in the run time.
    static char stream_buffer[1 << 16];
    std::setvbuf(out, stream_buffer, _IOFBF, sizeof stream_buffer);
    struct stat opened{};
    const bool regular = fstat(fileno(out), &opened) == 0 && S_ISREG(opened.st_mode);

    errno = 0;
    bool written = write_wav_header(out, header)
        && write_sine_samples(out, frequency, sample_count)
        && std::fflush(out) == 0;
    int error = errno;
    if (std::fclose(out) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written)
        return true;
    report("cannot write", path, error != 0 ? error : EIO);
    if (regular)
        discard(path, opened);
    return false;
}

}  // namespace puretone
