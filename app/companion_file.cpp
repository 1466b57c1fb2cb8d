// The companion file, written by a child process. See companion_file.hpp.
#include "companion_file.hpp"

#include "output/outcome.hpp"
#include "output/take_back.hpp"
#include "tone_file.hpp"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace puretone {

bool write_companion(const void* context)
{
    const auto& companion = *static_cast<const companion_file*>(context);
    // The first file's workers have stopped: this process runs one thread
    // here, so the child may start its own.
    hold_interruptions();
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        report("cannot start writing", companion.path, errno);
        release_interruptions();
        return false;
    }
    if (child == 0) {
        release_interruptions();
        if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent)
            _exit(1);
        _exit(write_tone_file(companion.path, companion.tone) ? 0 : 1);
    }
    const sigset_t caught = caught_signals();
    int status = 0, passed = 0;
    for (;;) {
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child)
            break;
        if (ended < 0 && errno != EINTR) {
            report("cannot finish writing", companion.path, errno);
            release_interruptions();
            return false;
        }
        const timespec tick{0, 20000000};  // 20 ms between looks at the child
        siginfo_t info{};
        if (const int signal = sigtimedwait(&caught, &info, &tick); signal > 0 && passed == 0) {
            passed = signal;
            kill(child, signal);
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;  // held: a signal now is one at the very end
    if (passed != 0)
        raise(passed);  // delivered on release: its handler takes back this run's file and ends it
    release_interruptions();
    return false;
}

}  // namespace puretone
