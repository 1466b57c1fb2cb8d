// Opens, writes and closes the output, and checks every step: a full disk
// must not end in a truncated file and a success status.
//
// The kernel resolves the path: it is opened as named, for writing, created
// if missing, never truncated. So permissions, fs.protected_symlinks and
// fs.protected_regular, ELOOP, EISDIR and ENOENT decide as for any program.
// Then, for a regular file:
//  - Replaced, where a replacement keeps everything: the tone goes into a
//    new temporary file in the directory that holds the opened file. It is
//    unnamed (O_TMPFILE) where the file system allows, else named and
//    created 0600; either way no other user can open it. It takes the old
//    file's owner, group, mode and extended attributes before any data,
//    and is linked under a temporary name and renamed over the old file
//    once whole. A reader sees the old file or the new one; a failure or an
//    interruption leaves the old file as it was, and an unnamed file
//    vanishes with the process, however it ends.
//  - Written in place, under an exclusive lock, through the descriptor
//    already open, where a replacement would lose something or the rename
//    cannot work: the attributes cannot all be carried, the directory is
//    sticky and the file another user's, the file is a mount point, the
//    directory is append-only or immutable, or it takes no new file from
//    this user.
//  - Refused, with the old file untouched, where no directory can be found
//    to hold it (deleted meanwhile, or out of descriptors).
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
#include <exception>
#include <new>
#include <string>
#include <system_error>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace puretone {
namespace {

// One line on standard error. `error` 0: the opened name changed meanwhile.
void report(const char* failure, const char* path, int error)
{
    const char* reason = error == 0 ? "it was replaced while being opened" : std::strerror(error);
    try {
        std::fprintf(stderr, "puretone: %s '%s': %s\n", failure, printable(path).c_str(), reason);
    } catch (const std::bad_alloc&) {  // no memory to escape the path: it is left out
        std::fprintf(stderr, "puretone: %s: %s\n", failure, reason);
    }
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
    int error;     // errno's meaning, when fd < 0; 0 when the name changed meanwhile
    bool created;  // by this run, and so removed again on failure
    struct stat status;
    file_place place;  // where a regular file stands (directory_fd -1: unknown)
};

// A file this run created: removed from its directory on failure, or by
// the path itself where no directory could be opened (out of descriptors),
// if the path still names it; else emptied.
void register_created(const char* path, const opened_output& out)
{
    struct stat named{};
    if (out.place.directory_fd >= 0)
        remove_on_failure(out.place.directory_fd, out.place.name.c_str(), out.status);
    else if (fstatat(AT_FDCWD, path, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == out.status.st_dev
             && named.st_ino == out.status.st_ino)
        remove_on_failure(AT_FDCWD, path, out.status);
    else
        empty_on_failure(out.fd, out.status);
}

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
//  - O_NONBLOCK keeps the open from blocking while the signals are held. A
//    FIFO with no reader (ENXIO) and a file under a lease (EWOULDBLOCK) are
//    opened again once they are free, and wait there: Ctrl-C still ends the
//    wait. That open keeps O_CREAT, so the kernel checks again, and must
//    find the file the path named before (device and inode): a file
//    swapped in meanwhile is refused, not written.
opened_output open_output(const char* path)
{
    constexpr int flags = O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC;
    opened_output out{-1, 0, false, {}, {-1, {}, 0}};
    hold_interruptions();
    out.fd = open(path, flags | O_EXCL, 0666);
    out.created = out.fd >= 0;
    bool must_wait = false;
    struct stat before{};
    if (out.fd < 0 && errno == EEXIST) {
        const bool existed = stat(path, &before) == 0;  // through every link
        out.fd = open(path, flags | O_NONBLOCK, 0666);
        must_wait = out.fd < 0 && (errno == ENXIO || errno == EWOULDBLOCK) && existed;
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
    if (out.created)
        register_created(path, out);
    release_interruptions();
    if (must_wait) {
        out.fd = open(path, flags, 0666);
        out.error = errno;
        read_status(out);
        if (out.fd >= 0 && (out.status.st_dev != before.st_dev || out.status.st_ino != before.st_ino)) {
            close(out.fd);
            out.fd = -1;
            out.error = 0;
        }
        if (out.fd >= 0 && S_ISREG(out.status.st_mode))
            out.place = locate_file(path, out.fd, out.status);
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

// Whether the directory is append-only or immutable, so that no name in it
// may be replaced: from statx where the file system reports the flags
// there, else from the inode flags themselves (which need the directory
// open for reading). Where neither tells, a rename that fails is reported.
bool fixed_directory(int directory_fd)
{
    constexpr std::uint64_t fixed = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
    struct statx status{};
    if (statx(directory_fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &status) == 0
        && (status.stx_attributes_mask & fixed) == fixed)
        return (status.stx_attributes & fixed) != 0;
    const int readable = openat(directory_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    const bool known = readable >= 0 && ioctl(readable, FS_IOC_GETFLAGS, &flags) == 0;
    if (readable >= 0)
        close(readable);
    return known && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
}

// Whether renaming a new file over the opened one can work at all, judged
// before anything is written: not in a sticky directory where the file is
// another user's (unless this process is privileged), not in an
// append-only or immutable directory (its inode flags, as statx shows them:
// no name there may be replaced), and not when the file is a mount point
// (a bind mount: EBUSY).
bool rename_can_work(const opened_output& out)
{
    struct stat directory{};
    if (fstat(out.place.directory_fd, &directory) != 0)
        return false;
    if (fixed_directory(out.place.directory_fd))
        return false;
    const uid_t user = geteuid();
    if ((directory.st_mode & S_ISVTX) != 0 && out.status.st_uid != user && directory.st_uid != user && user != 0)
        return false;
    const unsigned long long file_mount = mount_id(out.fd), directory_mount = mount_id(out.place.directory_fd);
    if (file_mount != 0 && directory_mount != 0)
        return file_mount == directory_mount;
    return directory.st_dev == out.status.st_dev;
}

// A temporary name, ".puretone." and six random letters: in place, as it is
// made once the tone is written, where memory may have run out.
struct temporary_name {
    char text[17];
};
temporary_name new_temporary_name()
{
    const char* letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[6] = {};
    static std::uint64_t tries = 0;  // without getrandom: a name of this run's own, tried again on EEXIST
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != sizeof random) {
        std::uint64_t mixed = (static_cast<std::uint64_t>(getpid()) << 20 | ++tries) * 0x9E3779B97F4A7C15u;
        for (unsigned char& byte : random)
            byte = static_cast<unsigned char>(mixed >>= 8);
    }
    temporary_name name{".puretone.XXXXXX"};
    for (std::size_t k = 0; k < sizeof random; ++k)
        name.text[10 + k] = letters[random[k] % 62];
    return name;
}

// The file the tone goes into before it takes the old one's place.
struct temporary_file {
    int fd;
    temporary_name name;  // "" while unnamed (O_TMPFILE)
};

// A new, empty temporary file in the directory, mode 0600, so that no other
// user can open it (a default ACL gives it a mask of nothing): unnamed
// where the file system allows, else named and registered for removal.
// fd -1, with errno set, on failure.
temporary_file create_temporary(int directory_fd)
{
    const int unnamed = openat(directory_fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    // Without O_TMPFILE: EOPNOTSUPP from the file system, EISDIR or EINVAL
    // from a kernel before 3.11.
    if (unnamed >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return {unnamed, {}};
    for (int tries = 0; tries < 100; ++tries) {
        const temporary_name name = new_temporary_name();
        hold_interruptions();
        const int fd = openat(directory_fd, name.text, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600);
        struct stat status{};
        if (fd >= 0 && fstat(fd, &status) == 0)
            remove_on_failure(directory_fd, name.text, status);
        const int error = errno;
        release_interruptions();
        if (fd >= 0 || error != EEXIST) {
            errno = error;
            return {fd, name};
        }
    }
    errno = EEXIST;
    return {-1, {}};
}

// Removes the temporary file, where it cannot be used after all.
void discard_temporary(int directory_fd, const temporary_file& temporary)
{
    if (temporary.name.text[0] != '\0') {
        hold_interruptions();
        forget_last_removable();
        unlinkat(directory_fd, temporary.name.text, 0);
        release_interruptions();
    }
    close(temporary.fd);
}

// Gives the unnamed file a temporary name in the directory, registered for
// removal: linkat through /proc/self/fd (which needs no privilege), else
// AT_EMPTY_PATH (which needs CAP_DAC_READ_SEARCH). 0, or the errno.
int link_temporary(int directory_fd, temporary_file& temporary)
{
    char proc_link[32];
    std::snprintf(proc_link, sizeof proc_link, "/proc/self/fd/%d", temporary.fd);
    struct stat status{};
    if (fstat(temporary.fd, &status) != 0)
        return errno;
    for (int tries = 0; tries < 100; ++tries) {
        const temporary_name name = new_temporary_name();
        hold_interruptions();
        int linked = linkat(AT_FDCWD, proc_link, directory_fd, name.text, AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno == ENOENT)  // no /proc
            linked = linkat(temporary.fd, "", directory_fd, name.text, AT_EMPTY_PATH);
        const int error = linked == 0 ? 0 : errno;
        if (linked == 0)
            remove_on_failure(directory_fd, name.text, status);
        release_interruptions();
        if (error != EEXIST) {
            if (error == 0)
                temporary.name = name;
            return error;
        }
    }
    return EEXIST;
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
int reserve(int fd, std::int64_t file_size)
{
    struct statfs file_system{};
    if (fstatfs(fd, &file_system) == 0 && file_system.f_type == TMPFS_MAGIC)
        return 0;
    if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(file_size)) == 0)
        return 0;
    return errno == ENOSPC || errno == EDQUOT || errno == EFBIG ? errno : 0;  // else: unsupported, write anyway
}

// The tone into the temporary file, renamed over the opened file once it is
// whole, synced, named and closed.
bool replace_file(const char* path, const opened_output& out, temporary_file& temporary, const tone_plan& tone)
{
    int error = reserve(temporary.fd, tone_file_size(tone));
    if (error == 0)
        error = write_tone(temporary.fd, tone);
    // The data reach the disk before the name does, so that a crash just
    // after the rename cannot leave an empty file. A file system that cannot
    // sync (EINVAL) is no failure of the file.
    if (error == 0 && fsync(temporary.fd) != 0 && errno != EINVAL)
        error = errno;
    if (error == 0 && temporary.name.text[0] == '\0')
        error = link_temporary(out.place.directory_fd, temporary);
    if (close(temporary.fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    if (error != 0)
        return conclude("cannot write", path, error);
    // Held from the rename until nothing is registered: a signal between the
    // two would remove a name that is no longer the temporary file's.
    hold_interruptions();
    if (renameat(out.place.directory_fd, temporary.name.text, out.place.directory_fd, out.place.name.c_str()) != 0) {
        error = errno;
        release_interruptions();
        return conclude("cannot rename into place", path, error);
    }
    run_complete();
    release_interruptions();
    // The rename itself, durable; a failure changes nothing written. The
    // directory is open with O_PATH, which cannot sync: opened again here.
    const int directory = openat(out.place.directory_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        fsync(directory);
        close(directory);
    }
    return true;
}

// The tone through the descriptor already open, from the start of the file.
// A regular file is locked first, so that two runs take turns instead of
// mixing, then truncated; devices and FIFOs are written as they are.
bool write_in_place(const char* path, const opened_output& out, const tone_plan& tone)
{
    if (S_ISREG(out.status.st_mode)) {
        // Waits while another holds a lock (a run writing, or any reader
        // with flock -s), saying so once: the signals are free meanwhile.
        // A file system without locks (ENOLCK, EOPNOTSUPP) gets no lock.
        int locked = flock(out.fd, LOCK_EX | LOCK_NB);
        if (locked != 0 && errno == EWOULDBLOCK) {
            std::fprintf(stderr, "puretone: waiting for '%s', which another process has locked\n",
                         printable(path).c_str());
            locked = flock(out.fd, LOCK_EX);
        }
        if (locked != 0 && errno != ENOLCK && errno != EOPNOTSUPP)
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
    const int flags = closed_at_start(fd) ? -1 : fcntl(fd, F_GETFL);
    if (flags == -1 || (flags & O_ACCMODE) == O_RDONLY) {
        report("cannot open", path, EBADF);
        return false;
    }
    int error = write_tone(fd, tone);
    if (close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    return conclude("cannot write", path, error);
}

bool write_output(const char* path, const tone_plan& tone)
{
    const named_output named = named_descriptor(path);
    if (named.descriptor >= 0)
        return write_descriptor(path, named.descriptor, tone);
    const opened_output out = open_output(path);
    if (out.fd < 0) {
        report("cannot open", path, out.error);
        return false;
    }
    // Through another process's descriptor link there is no name of ours to
    // rename over.
    if (!S_ISREG(out.status.st_mode) || named.through_link)
        return write_in_place(path, out, tone);
    // A regular file no directory can be found to hold: never written in
    // place for that, as a failure would empty it.
    if (out.place.directory_fd < 0)
        return conclude("cannot find the directory that holds", path, out.place.error);
    if (!rename_can_work(out))
        return write_in_place(path, out, tone);
    temporary_file temporary = create_temporary(out.place.directory_fd);
    if (temporary.fd < 0 && (errno == EACCES || errno == EPERM))  // a directory this user may not write
        return write_in_place(path, out, tone);
    if (temporary.fd < 0)
        return conclude("cannot create a temporary file beside", path, errno);
    if (!carry_attributes(out.fd, out.status, temporary.fd)) {
        discard_temporary(out.place.directory_fd, temporary);
        return write_in_place(path, out, tone);
    }
    close(out.fd);
    return replace_file(path, out, temporary, tone);
}

// Memory that runs out where not even an exception can be made (its
// emergency pool could not be had under a tight ulimit -v) ends in
// std::terminate: what was written is taken back, and the run ends as any
// failure does, with one line.
[[noreturn]] void on_terminate()
{
    hold_interruptions();
    take_back();
    static const char line[] = "puretone: cannot write the output: out of memory\n";
    [[maybe_unused]] const ssize_t written = write(2, line, sizeof line - 1);
    _exit(1);
}

}  // namespace

bool write_tone_file(const char* path, const tone_plan& tone)
{
    open_standard_descriptors();
    catch_interruptions();
    std::set_terminate(on_terminate);
    // Memory is asked for only before the tone is written (names, the
    // attributes, the workers' ring): running out there is one failure like
    // any other, and takes back what was made.
    try {
        return write_output(path, tone);
    } catch (const std::bad_alloc&) {
        return conclude("cannot write", path, ENOMEM);
    } catch (const std::system_error& error) {
        return conclude("cannot write", path, error.code().value());
    }
}

}  // namespace puretone
