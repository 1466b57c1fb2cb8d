// The writes that cannot be taken back whole: what the old file held is
// gone once the first byte is written, so a failure empties it instead.
#include "in_place.hpp"

#include "../printable.hpp"
#include "outcome.hpp"
#include "resolve.hpp"
#include "take_back.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace puretone {
namespace {

// A run that fails after its file is whole (ready_to_commit said no, and
// why): what is registered is taken back (a file written in place is
// emptied), with no further message.
bool taken_back(int fd)
{
    hold_interruptions();
    take_back();
    release_interruptions();
    close(fd);
    return false;
}

}  // namespace

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
        // The kernel clears set-user-ID and set-group-ID on a write, but not
        // for a writer with CAP_FSETID (root): cleared here, before the
        // contents change, as a replacement drops them. EPERM: not the
        // owner, and so no CAP_FSETID either: the write clears them.
        struct stat now{};
        if (fstat(out.fd, &now) == 0 && (now.st_mode & (S_ISUID | S_ISGID)) != 0
            && fchmod(out.fd, now.st_mode & 07777 & ~mode_t{S_ISUID | S_ISGID}) != 0 && errno != EPERM)
            return conclude("cannot clear the set-user-ID and set-group-ID bits of", path, errno);
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
    if (!ready_to_commit(tone))
        return taken_back(out.fd);
    if (close(out.fd) != 0 && errno != EINTR)
        error = errno;
    return conclude("cannot write", path, error);
}

bool write_descriptor(const char* path, int fd, const tone_plan& tone)
{
    const int flags = closed_at_start(fd) ? -1 : fcntl(fd, F_GETFL);
    if (flags == -1 || (flags & O_ACCMODE) == O_RDONLY) {
        report("cannot open", path, EBADF);
        return false;
    }
    int error = write_tone(fd, tone);
    if (error == 0 && !ready_to_commit(tone))
        return taken_back(fd);
    if (close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    return conclude("cannot write", path, error);
}

}  // namespace puretone
