// The signal handler and what it takes back. Everything it calls is
// async-signal-safe (fstatat, unlinkat, fstat, ftruncate, raise), and
// everything it reads was written while the signals were held.
#include "take_back.hpp"

#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

namespace puretone {
namespace {

// The signals whose default action ends the process. SIGRTMIN and SIGRTMAX
// are not constants in glibc, so the real-time ones are added at run time.
// SIGXFSZ is ignored instead (see catch_interruptions).
constexpr int fixed_signals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2,
                                 SIGPIPE, SIGXCPU, SIGVTALRM, SIGPROF, SIGPWR,  SIGIO,
#ifdef SIGSTKFLT  // not on every architecture
                                 SIGSTKFLT,
#endif
                                 SIGSEGV, SIGBUS,  SIGFPE,    SIGILL,  SIGTRAP, SIGSYS,  SIGABRT};
// Of those, the ones a fault of this process raises: handled on the
// alternate stack, and left free on every thread.
constexpr int crash_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT};

struct removable_file {
    int directory_fd;
    char name[PATH_MAX];  // a name in the directory, or a whole path from AT_FDCWD
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

// hold_interruptions: how deep, and the mask the outermost found.
int hold_depth = 0;
sigset_t mask_before_hold;

// The handler's stack for a crash, where the thread's own may be used up.
// 64 KiB is many times what take_back needs (a few stat records); a CPU
// whose signal frame is larger (sysconf's SIGSTKSZ) gets that much more.
constexpr std::size_t alternate_stack_bytes = std::size_t{1} << 16;
alignas(64) char alternate_stack[alternate_stack_bytes];

bool same_file(const struct stat& status, dev_t device, ino_t inode)
{
    return status.st_dev == device && status.st_ino == inode;
}

bool is_crash(int signal)
{
    for (const int crash : crash_signals)
        if (signal == crash)
            return true;
    return false;
}

bool is_fault(int signal)
{
    return signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE || signal == SIGILL;
}

extern "C" void on_interruption(int signal, siginfo_t* info, void*)
{
    take_back();
    // The handler was reset to the default on entry (SA_RESETHAND). A fault
    // the kernel raised (si_code > 0) comes again once the handler returns,
    // now with the default action, so a core dump shows where it happened.
    if (is_fault(signal) && info != nullptr && info->si_code > 0)
        return;
    // Otherwise, with the signal not held (SA_NODEFER): this ends the
    // process by it.
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

void set_alternate_stack()
{
    stack_t stack{};
    stack.ss_sp = alternate_stack;
    stack.ss_size = alternate_stack_bytes;
    const long wanted = sysconf(_SC_SIGSTKSZ);
    if (wanted > 0 && static_cast<std::size_t>(wanted) > alternate_stack_bytes) {
        void* larger = mmap(nullptr, static_cast<std::size_t>(wanted), PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (larger != MAP_FAILED) {
            stack.ss_sp = larger;
            stack.ss_size = static_cast<std::size_t>(wanted);
        }
    }
    sigaltstack(&stack, nullptr);  // without it, the handler runs on the thread's own stack
}

}  // namespace

void catch_interruptions()
{
    std::signal(SIGXFSZ, SIG_IGN);
    set_alternate_stack();
    const sigset_t caught = caught_set();
    struct sigaction action{};
    action.sa_sigaction = on_interruption;
    action.sa_mask = caught;  // one take-back at a time
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction before{};
        if (sigismember(&caught, signal) != 1 || sigaction(signal, nullptr, &before) != 0
            || before.sa_handler == SIG_IGN)
            continue;
        action.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_NODEFER | (is_crash(signal) ? SA_ONSTACK : 0);
        sigdelset(&action.sa_mask, signal);  // SA_NODEFER: raise must reach it
        sigaction(signal, &action, nullptr);
        sigaddset(&action.sa_mask, signal);
    }
}

void free_crash_signals(sigset_t& mask, const sigset_t& caller_mask)
{
    for (const int signal : crash_signals)
        if (sigismember(&caller_mask, signal) != 1)
            sigdelset(&mask, signal);
}

void remove_on_failure(int directory_fd, const char* name, const struct stat& written)
{
    removable_file& file = removable[removable_count];
    file.directory_fd = directory_fd;
    std::strncpy(file.name, name, PATH_MAX - 1);
    file.name[PATH_MAX - 1] = '\0';
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

void forget_file(const struct stat& written)
{
    int kept = 0;
    for (int k = 0; k < removable_count; ++k)
        if (!same_file(written, removable[k].device, removable[k].inode))
            removable[kept++] = removable[k];
    removable_count = kept;
    if (same_file(written, emptiable.device, emptiable.inode))
        emptiable.fd = -1;
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

sigset_t caught_signals()
{
    return caught_set();
}

void hold_interruptions()
{
    const sigset_t set = caught_set();
    sigset_t before;
    sigprocmask(SIG_BLOCK, &set, &before);
    if (hold_depth++ == 0)
        mask_before_hold = before;
}

void release_interruptions()
{
    // Back to the caller's mask, not merely unblocked: a signal the caller
    // blocked before the run stays blocked.
    if (hold_depth > 0 && --hold_depth == 0)
        sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
}

}  // namespace puretone
