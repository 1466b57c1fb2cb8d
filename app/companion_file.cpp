// The companion file, written by a child process. See companion_file.hpp.
#include "companion_file.hpp"

#include "output/outcome.hpp"
#include "tone_file.hpp"

#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>

namespace puretone {

bool write_companion(const void* context)
{
    const auto& companion = *static_cast<const companion_file*>(context);
    // The first file's workers have stopped: this process runs one thread
    // here, so the child may start its own.
    const pid_t child = fork();
    if (child < 0) {
        report("cannot start writing", companion.path, errno);
        return false;
    }
    if (child == 0)
        _exit(write_tone_file(companion.path, companion.tone) ? 0 : 1);
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) {
            report("cannot finish writing", companion.path, errno);
            return false;
        }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace puretone
