// The kernel resolves the output path; this file only asks it questions.
// Nothing here follows a symbolic link by hand, so the kernel's own checks
// (permissions, fs.protected_symlinks, ELOOP) decide, as for any program.
#include "resolve.hpp"

#include "take_back.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#if defined(__linux__) && defined(SYS_openat2)
#include <linux/openat2.h>
#endif

namespace puretone {
namespace {

// The descriptor of a plain name: "/dev/stdout", "/dev/stderr",
// "<prefix>N" for the prefixes below; else -1.
int plain_descriptor_name(std::string_view path)
{
    if (path == "/dev/stdin")
        return 0;
    if (path == "/dev/stdout")
        return 1;
    if (path == "/dev/stderr")
        return 2;
    for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/"}) {
        if (path.substr(0, prefix.size()) != prefix)
            continue;
        const std::string_view digits = path.substr(prefix.size());
        if (digits.empty() || digits.size() > 9)  // below INT_MAX
            return -1;
        int fd = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return -1;
            fd = fd * 10 + (c - '0');
        }
        return fd;
    }
    return -1;
}

std::string directory_of(std::string_view path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

std::string name_of(std::string_view path)
{
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The descriptor a path's last name stands for as a number ("1" in
// /proc/<pid>/fd/1), or -1.
int descriptor_number(std::string_view path)
{
    return plain_descriptor_name("/dev/fd/" + name_of(path));
}

// Whether resolving the last name of `path`, from its directory, goes
// through a descriptor link ("magic link" in the kernel's words): 1 yes,
// 0 no, -1 the kernel cannot tell. openat2 refuses such links with ELOOP
// under RESOLVE_NO_MAGICLINKS; an ordinary open that follows them then
// succeeds where that one did not. The directory is opened as any open
// would find it, so /proc/self/cwd/t.wav names the file t.wav.
int through_descriptor_link(const char* path)
{
#if defined(__linux__) && defined(SYS_openat2)
    const int directory = open(directory_of(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return errno == EMFILE || errno == ENFILE || errno == ENOMEM ? -1 : 0;  // else the open fails too
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_NO_MAGICLINKS;
    const std::string name = name_of(path);
    const long fd = syscall(SYS_openat2, directory, name.empty() ? "." : name.c_str(), &how, sizeof how);
    const int error = errno;
    close(directory);
    if (fd >= 0) {
        close(static_cast<int>(fd));
        return 0;
    }
    if (error == ENOSYS || error == EPERM)  // an old kernel, or a filter that forbids the call
        return -1;
    return error == ELOOP ? 1 : 0;  // an ELOOP of too many links is settled below
#else
    static_cast<void>(path);
    return -1;
#endif
}

bool same_directory(const std::string& path, const struct stat& status)
{
    struct stat other{};
    return stat(path.c_str(), &other) == 0 && other.st_dev == status.st_dev && other.st_ino == status.st_ino;
}

// N, when the path is a number in a directory that is this process's (or
// this thread's) descriptor directory, however spelled (/dev/fd//1,
// /proc/<pid>/fd/1); else -1.
int own_descriptor_entry(std::string_view path)
{
    const int fd = descriptor_number(path);
    struct stat directory{};
    if (fd >= 0 && stat(directory_of(path).c_str(), &directory) == 0
        && (same_directory("/proc/self/fd", directory) || same_directory("/proc/thread-self/fd", directory)))
        return fd;
    return -1;
}

// Where the kernel cannot tell: an entry of this process's descriptor
// directory, else the plain names.
int descriptor_by_directory(std::string_view path)
{
    const int fd = own_descriptor_entry(path);
    return fd >= 0 ? fd : plain_descriptor_name(path);
}

// The descriptor of this process whose link the path leads through, read
// from the symbolic links on the way (/dev/stdout -> /proc/self/fd/1), at
// most 40 as the kernel allows; -1 when they lead elsewhere (another
// process's descriptor link). Only called once the kernel has said the
// path goes through a descriptor link, so the links read are the ones it
// followed.
int linked_descriptor(std::string path)
{
    for (int hops = 0; hops <= 40; ++hops) {
        if (const int fd = own_descriptor_entry(path); fd >= 0)
            return fd;
        char target[PATH_MAX];
        const ssize_t length = readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || length == sizeof target)
            return -1;
        const std::string next(target, static_cast<std::size_t>(length));
        path = next[0] == '/' ? next : directory_of(path) + "/" + next;
    }
    return -1;
}

// This process's open descriptors, from /proc, lowest first.
std::vector<int> open_descriptors()
{
    std::vector<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return fds;
    const int own = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string_view::npos)
            continue;
        int fd = 0;
        for (const char c : name)
            fd = fd * 10 + (c - '0');
        if (fd != own)
            fds.push_back(fd);
    }
    closedir(dir);
    std::sort(fds.begin(), fds.end());
    return fds;
}

// The descriptor of this process that holds the file `path` resolves to,
// or -1. Where several do (2>&1), the one the path spells, else the lowest.
int descriptor_holding(const char* path)
{
    const int target = open(path, O_PATH | O_CLOEXEC);
    struct stat wanted{};
    const bool found = target >= 0 && fstat(target, &wanted) == 0;
    if (target >= 0)
        close(target);
    if (!found)
        return -1;
    const std::string_view spelled = path;
    const int spelled_fd = descriptor_number(spelled);
    int holding = -1;
    for (const int fd : open_descriptors()) {
        struct stat status{};
        if (fstat(fd, &status) != 0 || status.st_dev != wanted.st_dev || status.st_ino != wanted.st_ino)
            continue;
        if (holding < 0 || fd == spelled_fd)
            holding = fd;
    }
    if (holding < 0 && (spelled == "/dev/stdout" || spelled == "/dev/stderr"))
        return spelled == "/dev/stdout" ? 1 : 2;
    return holding;
}

// Which of 0, 1 and 2 open_standard_descriptors found closed.
bool was_closed[3];

bool runs_out(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

// Follows `name` in `directory` (opened from `base`) to the directory that
// holds the inode of `opened` under its own name: through the symbolic
// links it leads through, each resolved from the directory before.
file_place follow_to(int base, std::string directory, std::string name, const struct stat& opened)
{
    for (int hops = 0; hops <= 40; ++hops) {
        const int dir = openat(base, directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int error = errno;
        if (base != AT_FDCWD)
            close(base);
        if (dir < 0)
            return {-1, {}, runs_out(error) ? error : ENOENT};
        struct stat status{};
        const bool named = !name.empty() && name != "." && name != ".."
            && fstatat(dir, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
        if (named && status.st_dev == opened.st_dev && status.st_ino == opened.st_ino && S_ISREG(status.st_mode))
            return {dir, name, 0};
        char target[PATH_MAX];
        const ssize_t length = named && S_ISLNK(status.st_mode) ? readlinkat(dir, name.c_str(), target, sizeof target) : -1;
        if (length <= 0 || length == sizeof target) {
            close(dir);
            return {-1, {}, ENOENT};
        }
        const std::string_view next(target, static_cast<std::size_t>(length));
        directory = directory_of(next);
        name = name_of(next);
        base = dir;
    }
    return {-1, {}, ENOENT};
}

}  // namespace

void open_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free descriptor: this one, as those below are open.
            was_closed[fd] = true;
            open("/dev/null", (fd == 0 ? O_RDONLY : O_WRONLY) | O_NOCTTY);
        }
}

bool closed_at_start(int fd)
{
    return fd >= 0 && fd <= 2 && was_closed[fd];
}

named_output named_descriptor(const char* path)
{
    const std::string_view spelled = path;
    if (spelled == "-")
        return {1, false};
    if (through_descriptor_link(path) == 1) {
        const int linked = linked_descriptor(path);
        return {linked >= 0 ? linked : descriptor_holding(path), true};
    }
    // Not open now, or the kernel cannot tell: a name still names a
    // descriptor, so that one not open is reported as such (EBADF).
    return {descriptor_by_directory(spelled), false};
}

file_place locate_file(const char* path, int fd, const struct stat& opened)
{
    const std::string_view spelled = path;
    const file_place found = follow_to(AT_FDCWD, directory_of(spelled), name_of(spelled), opened);
    if (found.directory_fd >= 0 || found.error != ENOENT)
        return found;
    // Moved meanwhile, or reached another way: the kernel knows where the
    // file is now.
    char where[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = readlink(link.c_str(), where, sizeof where);
    if (length <= 0 || length == sizeof where || where[0] != '/')
        return {-1, {}, length < 0 && runs_out(errno) ? errno : ENOENT};
    const std::string_view real(where, static_cast<std::size_t>(length));
    return follow_to(AT_FDCWD, directory_of(real), name_of(real), opened);
}

namespace {

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

}  // namespace

// Always with O_CREAT: fs.protected_regular and fs.protected_fifos apply
// only to such opens.
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

void forget_created(const opened_output& out)
{
    if (!out.created)
        return;
    hold_interruptions();
    forget_file(out.status);
    release_interruptions();
}

new_name find_new_name(const char* path)
{
    const std::string_view spelled = path;
    std::string name = name_of(spelled);
    if (spelled.empty() || name.empty() || name == "." || name == "..")
        return {-1, {}};
    const int directory = open(directory_of(spelled).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat status{};
    if (directory < 0)
        return {-1, {}};
    if (fstatat(directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) {
        close(directory);
        return {-1, {}};
    }
    return {directory, std::move(name)};
}

}  // namespace puretone
