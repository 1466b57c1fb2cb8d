// The signal handler and what it takes back. Everything it calls is
// async-signal-safe (lstat, fstat, unlink, ftruncate, sigaction, raise), and
// everything it reads was written before it was enabled.
#include "interrupt.hpp"

#include <csignal>
#include <unistd.h>

namespace puretone {
namespace {

constexpr int caught_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2};

struct registered_file {
    const char* path;
    bool temporary;
    int fd;
    dev_t device;
    ino_t inode;
};
registered_file registered{};
volatile std::sig_atomic_t armed = 0;  // registered holds a file

bool is_written_file(const struct stat& status)
{
    return status.st_dev == registered.device && status.st_ino == registered.inode;
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
    for (const int signal : caught_signals)
        sigaddset(&set, signal);
    return set;
}

}  // namespace

void catch_interruptions()
{
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action{};
    action.sa_handler = on_interruption;
    action.sa_mask = caught_set();  // one take-back at a time
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (const int signal : caught_signals) {
        struct sigaction before{};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            sigdelset(&action.sa_mask, signal);  // SA_NODEFER: raise must reach it
            sigaction(signal, &action, nullptr);
            sigaddset(&action.sa_mask, signal);
        }
    }
}

void take_back_temporary(const char* path)
{
    registered = {path, true, -1, {}, {}};
    armed = 1;
}

void take_back_in_place(const char* path, int fd, const struct stat& written)
{
    registered = {path, false, fd, written.st_dev, written.st_ino};
    armed = 1;
}

void nothing_to_take_back()
{
    armed = 0;
}

void take_back()
{
    if (!armed)
        return;
    armed = 0;
    if (registered.temporary) {
        unlink(registered.path);
        return;
    }
    // Only the file that was written is ever removed: the path must still
    // name it directly, not through a link.
    struct stat now{};
    if (lstat(registered.path, &now) == 0 && is_written_file(now) && unlink(registered.path) == 0)
        return;
    if (fstat(registered.fd, &now) == 0 && is_written_file(now))
        static_cast<void>(ftruncate(registered.fd, 0));  // best effort: nothing more can be done
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
