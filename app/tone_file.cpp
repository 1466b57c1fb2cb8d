// Opens, writes and closes the output, and checks every step: a full disk
// must not end in a truncated file and a success status.
//
// The kernel resolves the path: it is opened as named, for writing, created
// if missing, never truncated. So permissions, fs.protected_symlinks and
// fs.protected_regular, ELOOP, EISDIR and ENOENT decide as for any program.
// Then, for a regular file:
//  - Replaced, where a replacement keeps everything: the tone goes into a
//    new temporary file in the directory that holds the opened file, which
//    takes the old file's owner, group, mode and extended attributes, and
//    is renamed over it once whole. A reader sees the old file or the new
//    one; a failure or an interruption leaves the old file as it was.
//  - Written in place, under an exclusive lock, through the descriptor
//    already open, where a replacement would lose something or the rename
//    cannot work: the attributes cannot all be carried, the directory is
//    sticky and the file another user's, the file is a mount point, or the
//    directory takes no new file from this user.
// A file this run created is removed again on failure; an existing file
// written in place is emptied (its old contents are gone by then).
#include "tone_file.hpp"

#include "file_attributes.hpp"
#include "interrupt.hpp"
#include "output_path.hpp"
#include "printable.hpp"
#include "tone_writer.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace puretone {
namespace {

void report(const char* failure, const char* path, int error)
{
    std::fprintf(stderr, "puretone: %s '%s': %s\n", failure, printable(path).c_str(), std::strerror(error));
}

// Ends a write: on success nothing is left to take back; on failure what
// was written is taken back and the failure reported.
bool conclude(const char* failure, const char* path, int error)
{
    if (error == 0) {
        run_complete();
        return true;
    }
    hold_interruptions();  // one take-back at a time
    take_back();
    release_interruptions();
    report(failure, path, error);
    return false;
}

struct opened_output {
    int fd;
    int error;     // errno's meaning, when fd < 0
    bool created;  // by this run, and so removed again on failure
    struct stat status;
    file_place place;  // where a regular file stands (directory_fd -1: unknown)
};

// The opened file's status; where it cannot be read, the descriptor is
// closed and the error kept, as for a failed open.
void read_status(opened_output& out)
{
    if (out.fd >= 0 && fstat(out.fd, &out.status) != 0) {
        out.error = errno;
        close(out.fd);
        out.fd = -1;
        out.created = false;
    }
}

// Opens the path for writing, without truncating it, always with O_CREAT:
// fs.protected_regular and fs.protected_fifos apply only to such opens.
//  - The signals are held while a file may be created, until it is
//    registered for removal. O_EXCL tells whether this open made it; a
//    dangling symbolic link, which O_EXCL never follows, is followed by the
//    second open, with the kernel's checks, and the file it names made.
//  - O_NONBLOCK keeps a FIFO from blocking while the signals are held. One
//    with no reader (ENXIO) is opened again once they are free, and waits
//    for a reader there: Ctrl-C still ends the wait.
opened_output open_output(const char* path)
{
    constexpr int flags = O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC;
    opened_output out{-1, 0, false, {}, {-1, {}}};
    hold_interruptions();
    out.fd = open(path, flags | O_EXCL, 0666);
    out.created = out.fd >= 0;
    bool fifo_without_reader = false;
    if (out.fd < 0 && errno == EEXIST) {
        struct stat before{};
        const bool existed = stat(path, &before) == 0;  // through every link
        out.fd = open(path, flags | O_NONBLOCK, 0666);
        fifo_without_reader = out.fd < 0 && errno == ENXIO;
        struct stat made{};
        // Made by this run: nothing was there, and an empty file is now.
        // (Or one made meanwhile by another, and still empty.)
        out.created = out.fd >= 0 && !existed && fstat(out.fd, &made) == 0 && S_ISREG(made.st_mode)
            && made.st_size == 0;
        if (out.fd >= 0)
            fcntl(out.fd, F_SETFL, fcntl(out.fd, F_GETFL) & ~O_NONBLOCK);
    }
    out.error = errno;
    read_status(out);
    if (out.fd >= 0 && S_ISREG(out.status.st_mode))
        out.place = locate_file(path, out.fd, out.status);
    if (out.created && out.place.directory_fd >= 0)
        remove_on_failure(out.place.directory_fd, out.place.name.c_str(), out.status);
    else if (out.created)
        empty_on_failure(out.fd, out.status);
    release_interruptions();
    if (fifo_without_reader) {
        out.fd = open(path, flags & ~O_CREAT);  // it exists: the checks of O_CREAT were passed above
        out.error = errno;
        read_status(out);
    }
    return out;
}

// The mount a descriptor's file is on, or 0 where that cannot be told.
// statx gives it since Linux 5.8; some emulators (qemu-user) set the mask
// bit yet leave the field 0, so 0 is taken as unknown, and the kernel's
// fdinfo (since 3.15) is asked instead.
unsigned long long mount_id(int fd)
{
    struct statx status{};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &status) == 0 && (status.stx_mask & STATX_MNT_ID) != 0
        && status.stx_mnt_id != 0)
        return status.stx_mnt_id;
    unsigned long long id = 0;
    const std::string info = "/proc/self/fdinfo/" + std::to_string(fd);
    if (std::FILE* file = std::fopen(info.c_str(), "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, file) != nullptr)
            if (std::sscanf(line, "mnt_id: %llu", &id) == 1)
                break;
        std::fclose(file);
    }
    return id;
}

// Whether renaming a new file over the opened one can work at all, judged
// before anything is written: not in a sticky directory where the file is
// another user's (unless this process is privileged), and not when the file
// is a mount point (a bind mount: EBUSY).
bool rename_can_work(const opened_output& out)
{
    struct stat directory{};
    if (fstat(out.place.directory_fd, &directory) != 0)
        return false;
    const uid_t user = geteuid();
    if ((directory.st_mode & S_ISVTX) != 0 && out.status.st_uid != user && directory.st_uid != user && user != 0)
        return false;
    const unsigned long long file_mount = mount_id(out.fd), directory_mount = mount_id(out.place.directory_fd);
    if (file_mount != 0 && directory_mount != 0)
        return file_mount == directory_mount;
    return directory.st_dev == out.status.st_dev;
}

// A new, empty temporary file in the directory, registered for removal:
// mode 0666 less the umask (or as a default ACL says), like any new file.
// Its descriptor, or -1 with errno set.
int create_temporary(int directory_fd, std::string& name)
{
    std::random_device random;
    const char* letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int tries = 0; tries < 100; ++tries) {
        name = ".puretone.";
        for (int k = 0; k < 6; ++k)
            name += letters[random() % 62];
        hold_interruptions();
        const int fd = openat(directory_fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        struct stat status{};
        if (fd >= 0 && fstat(fd, &status) == 0)
            remove_on_failure(directory_fd, name.c_str(), status);
        const int error = errno;
        release_interruptions();
        if (fd >= 0 || error != EEXIST) {
            errno = error;
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// Removes the temporary file, where it cannot be used after all.
void discard_temporary(int directory_fd, const std::string& name, int fd)
{
    hold_interruptions();
    forget_last_removable();
    unlinkat(directory_fd, name.c_str(), 0);
    release_interruptions();
    close(fd);
}

// Reserves the file's blocks where that is cheap, so that a tone that
// cannot fit fails at once (ENOSPC, EDQUOT, EFBIG) rather than after
// gigabytes; measured 6% to 10% quicker on ext4, as the blocks come in one
// extent. The size stays as written (FALLOC_FL_KEEP_SIZE), so the file
// shows its progress. Not on tmpfs, where it allocates and clears every
// page up front: 3% to 18% slower into /dev/shm, and a full tmpfs fails in
// a second anyway. fallocate(2), not posix_fallocate, which would write
// zeros where the file system cannot reserve. 0, or the errno that says
// the tone cannot fit.
int reserve(int fd, std::int32_t sample_count)
{
    struct statfs file_system{};
    if (fstatfs(fd, &file_system) == 0 && file_system.f_type == TMPFS_MAGIC)
        return 0;
    if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, 44 + 2 * static_cast<off_t>(sample_count)) == 0)
        return 0;
    return errno == ENOSPC || errno == EDQUOT || errno == EFBIG ? errno : 0;  // else: unsupported, write anyway
}

// The tone into the temporary file, renamed over the opened file once it is
// whole, synced and closed.
bool replace_file(const char* path, const opened_output& out, int temporary_fd, const std::string& temporary,
                  const tone_plan& tone)
{
    int error = reserve(temporary_fd, tone.sample_count);
    if (error == 0)
        error = write_tone(temporary_fd, tone);
    // The data reach the disk before the name does, so that a crash just
    // after the rename cannot leave an empty file. A file system that cannot
    // sync (EINVAL) is no failure of the file.
    if (error == 0 && fsync(temporary_fd) != 0 && errno != EINVAL)
        error = errno;
    if (close(temporary_fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    if (error != 0)
        return conclude("cannot write", path, error);
    // Held from the rename until nothing is registered: a signal between the
    // two would remove a name that is no longer the temporary file's.
    hold_interruptions();
    if (renameat(out.place.directory_fd, temporary.c_str(), out.place.directory_fd, out.place.name.c_str()) != 0) {
        error = errno;
        release_interruptions();
        return conclude("cannot rename into place", path, error);
    }
    run_complete();
    fsync(out.place.directory_fd);  // the rename itself, durable; a failure changes nothing written
    return true;
}

// The tone through the descriptor already open, from the start of the file.
// A regular file is locked first, so that two runs take turns instead of
// mixing, then truncated; devices and FIFOs are written as they are.
bool write_in_place(const char* path, const opened_output& out, const tone_plan& tone)
{
    if (S_ISREG(out.status.st_mode)) {
        // Blocks while another run writes: the signals are free meanwhile.
        // A file system without locks (ENOLCK, EOPNOTSUPP) gets no lock.
        if (flock(out.fd, LOCK_EX) != 0 && errno != ENOLCK && errno != EOPNOTSUPP)
            return conclude("cannot lock", path, errno);
        if (!out.created) {
            hold_interruptions();
            empty_on_failure(out.fd, out.status);
            release_interruptions();
        }
        if (ftruncate(out.fd, 0) != 0)
            return conclude("cannot write", path, errno);
    }
    int error = write_tone(out.fd, tone);
    if (error != 0)
        return conclude("cannot write", path, error);  // while the descriptor is open, so it can be emptied
    if (close(out.fd) != 0 && errno != EINTR)
        error = errno;
    return conclude("cannot write", path, error);
}

// An open descriptor, written as it is: not reopened, so an appending caller
// keeps what came before; never removed or emptied.
bool write_descriptor(const char* path, int fd, const tone_plan& tone)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || (flags & O_ACCMODE) == O_RDONLY) {
        report("cannot open", path, EBADF);
        return false;
    }
    int error = write_tone(fd, tone);
    if (close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    return conclude("cannot write", path, error);
}

}  // namespace

bool write_tone_file(const char* path, const tone_plan& tone)
{
    catch_interruptions();
    const named_output named = named_descriptor(path);
    if (named.descriptor >= 0)
        return write_descriptor(path, named.descriptor, tone);
    const opened_output out = open_output(path);
    if (out.fd < 0) {
        report("cannot open", path, out.error);
        return false;
    }
    // Through another process's descriptor link, or where no directory
    // holds the file (deleted meanwhile): there is no name to rename over.
    if (!S_ISREG(out.status.st_mode) || named.through_link || out.place.directory_fd < 0 || !rename_can_work(out))
        return write_in_place(path, out, tone);
    std::string temporary;
    const int temporary_fd = create_temporary(out.place.directory_fd, temporary);
    if (temporary_fd < 0 && (errno == EACCES || errno == EPERM))  // a directory this user may not write
        return write_in_place(path, out, tone);
    if (temporary_fd < 0)
        return conclude("cannot create a temporary file beside", path, errno);
    if (!carry_attributes(out.fd, out.status, temporary_fd)) {
        discard_temporary(out.place.directory_fd, temporary, temporary_fd);
        return write_in_place(path, out, tone);
    }
    close(out.fd);
    return replace_file(path, out, temporary_fd, temporary, tone);
}

}  // namespace puretone
