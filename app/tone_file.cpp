// Opens, writes, flushes and closes the output, and checks every step: a
// full disk must not end in a truncated file and a success status.
//
// A regular file is never written where it stands. The tone goes into a new
// temporary file in the same directory, which is renamed over the old one
// only once it is whole: a reader sees the old file or the new one, never a
// part, and a failure or an interruption leaves the old file as it was. Two
// runs on one path each write their own temporary file; the last rename wins.
#include "tone_file.hpp"

#include "interrupt.hpp"
#include "output_path.hpp"
#include "printable.hpp"
#include "wav/sine_stream.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace puretone {
namespace {

void report(const char* failure, const char* path, int error)
{
    std::fprintf(stderr, "puretone: %s '%s': %s\n", failure, printable(path).c_str(), std::strerror(error));
}

// Writes the header and the samples; 0, or the errno of the first failure.
// The stream is left open.
int write_tone(std::FILE* out, const wav_header& header, double frequency, std::int32_t sample_count)
{
    // 64 KiB writes instead of the default 4 KiB: at the speed the samples
    // are made, the number of write calls shows in the run time.
    static char stream_buffer[1 << 16];
    std::setvbuf(out, stream_buffer, _IOFBF, sizeof stream_buffer);
    errno = 0;
    if (write_wav_header(out, header) && write_sine_samples(out, frequency, sample_count)
        && std::fflush(out) == 0)
        return 0;
    return errno != 0 ? errno : EIO;
}

// Closes the stream; the first of `error` and the close's failure.
int close_stream(std::FILE* out, int error)
{
    if (std::fclose(out) != 0 && error == 0)
        return errno != 0 ? errno : EIO;
    return error;
}

// The permission bits (and the owner and group, where this process may set
// them) that the new file takes: those of the file it replaces, or for a new
// file 0666 less the umask, as open(2) would have given.
void give_final_mode(int fd, const std::string& final)
{
    struct stat old{};
    if (stat(final.c_str(), &old) == 0) {
        // Owner first: a change of owner may clear the set-user-ID bits.
        if (fchown(fd, old.st_uid, old.st_gid) != 0)
            static_cast<void>(fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0);  // the group alone
        static_cast<void>(fchmod(fd, old.st_mode & 07777) == 0);
        return;
    }
    const mode_t mask = umask(0);
    umask(mask);
    static_cast<void>(fchmod(fd, 0666 & ~mask) == 0);
}

// The temporary file beside `final`, or nothing when it cannot be made there
// (a directory this process may not write, a read-only file system).
std::FILE* create_temporary(const std::string& final, std::string& name)
{
    const auto slash = final.rfind('/');
    name = (slash == std::string::npos ? std::string() : final.substr(0, slash + 1)) + ".puretone.XXXXXX";
    hold_interruptions();
    const int fd = mkstemp(name.data());  // O_EXCL, mode 0600 while it is written
    std::FILE* out = fd < 0 ? nullptr : fdopen(fd, "w");
    if (out != nullptr) {
        take_back_temporary(name.c_str());
    } else if (fd >= 0) {
        unlink(name.c_str());
        close(fd);
    }
    release_interruptions();
    return out;
}

// Ends a write: on success nothing is left to take back; on failure what
// was written is taken back (if anything was registered) and the failure
// reported.
bool conclude(const char* path, int error)
{
    if (error == 0) {
        nothing_to_take_back();
        return true;
    }
    take_back();
    report("cannot write", path, error);
    return false;
}

// Writes into `out`, the temporary file `temporary`, then renames it over
// `final`. On failure the temporary file is removed; `final` is untouched.
bool replace_file(const char* path, const std::string& final, const std::string& temporary, std::FILE* out,
                  const wav_header& header, double frequency, std::int32_t sample_count)
{
    const int fd = fileno(out);
    int error = write_tone(out, header, frequency, sample_count);
    // The data reach the disk before the name does, so that a crash just
    // after the rename cannot leave an empty file. A file system that cannot
    // sync (EINVAL) is no failure of the file.
    if (error == 0 && fsync(fd) != 0 && errno != EINVAL)
        error = errno;
    // On the descriptor, not the name, so that the bits land on this file
    // whatever happens in the directory meanwhile.
    if (error == 0)
        give_final_mode(fd, final);
    error = close_stream(out, error);
    if (error == 0 && std::rename(temporary.c_str(), final.c_str()) != 0)
        error = errno;
    return conclude(path, error);
}

// Devices, FIFOs, and regular files whose directory takes no temporary file:
// opened as named and written where they stand. A regular file left partly
// written is then removed (or, reached through a link, emptied).
bool write_in_place(const char* path, const wav_header& header, double frequency, std::int32_t sample_count)
{
    hold_interruptions();
    std::FILE* out = std::fopen(path, "w");
    const int open_error = errno;
    struct stat opened{};
    if (out != nullptr && fstat(fileno(out), &opened) == 0 && S_ISREG(opened.st_mode))
        take_back_in_place(path, fileno(out), opened);
    release_interruptions();
    if (out == nullptr) {
        report("cannot open", path, open_error);
        return false;
    }
    int error = write_tone(out, header, frequency, sample_count);
    if (error != 0)
        take_back();  // while the descriptor is open, so a linked file can be emptied
    return conclude(path, close_stream(out, error));
}

// An open descriptor, written as it is: not reopened, so an appending caller
// keeps what came before; never removed or emptied.
bool write_descriptor(const char* path, int fd, const wav_header& header, double frequency,
                      std::int32_t sample_count)
{
    const int flags = fcntl(fd, F_GETFL);
    std::FILE* out = flags == -1 || (flags & O_ACCMODE) == O_RDONLY ? nullptr : fdopen(fd, "w");
    if (out == nullptr) {
        report("cannot open", path, EBADF);
        return false;
    }
    return conclude(path, close_stream(out, write_tone(out, header, frequency, sample_count)));
}

}  // namespace

bool write_tone_file(const char* path, const wav_header& header, double frequency, std::int32_t sample_count)
{
    catch_interruptions();
    const output_target target = resolve_output(path);
    if (target.error != 0) {
        report("cannot open", path, target.error);
        return false;
    }
    if (target.kind == output_kind::descriptor)
        return write_descriptor(path, target.descriptor, header, frequency, sample_count);
    if (target.kind == output_kind::replace) {
        std::string temporary;
        if (std::FILE* out = create_temporary(target.final, temporary))
            return replace_file(path, target.final, temporary, out, header, frequency, sample_count);
    }
    return write_in_place(path, header, frequency, sample_count);
}

}  // namespace puretone
