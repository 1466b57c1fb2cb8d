// The signal handler and what it takes back. Everything it calls is
// async-signal-safe (fstatat, unlinkat, fstat, ftruncate, raise), and
// everything it reads was written while the signals were held.
#include "interrupt.hpp"

#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace puretone {
namespace {

// The signals whose default action ends the process and that come from
// outside: a terminal, kill(1), a timer, a resource limit. SIGRTMIN and
// SIGRTMAX are not constants in glibc, so the real-time ones are added at
// run time. SIGXFSZ is ignored instead (see catch_interruptions).
constexpr int fixed_signals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2,
                                 SIGPIPE, SIGXCPU, SIGVTALRM, SIGPROF, SIGPWR};

struct removable_file {
    int directory_fd;
    char name[NAME_MAX + 1];
    dev_t device;
    ino_t inode;
};
// At most a temporary file and the file this run created in its place.
removable_file removable[2];
volatile std::sig_atomic_t removable_count = 0;
struct {
    int fd;
    dev_t device;
    ino_t inode;
} emptiable{-1, {}, {}};

bool same_file(const struct stat& status, dev_t device, ino_t inode)
{
    return status.st_dev == device && status.st_ino == inode;
}

extern "C" void on_interruption(int signal)
{
    take_back();
    // The handler was reset to the default on entry (SA_RESETHAND) and the
    // signal is not held (SA_NODEFER): this ends the process by it.
    raise(signal);
}

sigset_t caught_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : fixed_signals)
        sigaddset(&set, signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        sigaddset(&set, signal);
    return set;
}

}  // namespace

void catch_interruptions()
{
    std::signal(SIGXFSZ, SIG_IGN);
    const sigset_t caught = caught_set();
    struct sigaction action{};
    action.sa_handler = on_interruption;
    action.sa_mask = caught;  // one take-back at a time
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction before{};
        if (sigismember(&caught, signal) != 1 || sigaction(signal, nullptr, &before) != 0
            || before.sa_handler == SIG_IGN)
            continue;
        sigdelset(&action.sa_mask, signal);  // SA_NODEFER: raise must reach it
        sigaction(signal, &action, nullptr);
        sigaddset(&action.sa_mask, signal);
    }
}

void remove_on_failure(int directory_fd, const char* name, const struct stat& written)
{
    removable_file& file = removable[removable_count];
    file.directory_fd = directory_fd;
    std::strncpy(file.name, name, NAME_MAX);
    file.name[NAME_MAX] = '\0';
    file.device = written.st_dev;
    file.inode = written.st_ino;
    removable_count = removable_count + 1;
}

void empty_on_failure(int fd, const struct stat& written)
{
    emptiable = {fd, written.st_dev, written.st_ino};
}

void forget_last_removable()
{
    if (removable_count > 0)
        removable_count = removable_count - 1;
}

void run_complete()
{
    hold_interruptions();
    removable_count = 0;
    emptiable.fd = -1;
    // Ignoring a signal also discards it where it is pending.
    const sigset_t caught = caught_set();
    for (int signal = 1; signal < NSIG; ++signal)
        if (sigismember(&caught, signal) == 1)
            std::signal(signal, SIG_IGN);
    release_interruptions();
}

void take_back()
{
    // Only files this run wrote are ever removed: the name must still hold
    // the very inode, so a file that replaced it meanwhile is left alone.
    for (int k = removable_count - 1; k >= 0; --k) {
        const removable_file& file = removable[k];
        struct stat now{};
        if (fstatat(file.directory_fd, file.name, &now, AT_SYMLINK_NOFOLLOW) == 0
            && same_file(now, file.device, file.inode))
            unlinkat(file.directory_fd, file.name, 0);
    }
    removable_count = 0;
    struct stat now{};
    if (emptiable.fd >= 0 && fstat(emptiable.fd, &now) == 0 && same_file(now, emptiable.device, emptiable.inode))
        static_cast<void>(ftruncate(emptiable.fd, 0));  // best effort: nothing more can be done
    emptiable.fd = -1;
}

void hold_interruptions()
{
    const sigset_t set = caught_set();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

void release_interruptions()
{
    const sigset_t set = caught_set();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace puretone
