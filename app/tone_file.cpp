// Opens, writes and closes the output, and checks every step: a full disk
// must not end in a truncated file and a success status. The decisions
// each live in app/output/: what the path names (resolve), a file replaced
// or created whole (replace), written in place (in_place), what a
// replacement carries (attributes), what a failure or a signal takes back
// (take_back), and how a write ends (outcome).
#include "tone_file.hpp"

#include "output/in_place.hpp"
#include "output/outcome.hpp"
#include "output/replace.hpp"
#include "output/resolve.hpp"
#include "output/take_back.hpp"

#include <cerrno>
#include <exception>
#include <new>
#include <system_error>
#include <unistd.h>

namespace puretone {
namespace {

// How often the run decides afresh because the path changed under it:
// another run renamed its file over this one's between the open and the
// lookup of its directory, or a new name was taken meanwhile. Each needs
// another process to act again inside a window of microseconds.
constexpr int most_decisions = 8;

bool write_output(const char* path, const tone_plan& tone)
{
    const named_output named = named_descriptor(path);
    if (named.descriptor >= 0)
        return write_descriptor(path, named.descriptor, tone);
    for (int decision = 1;; ++decision) {
        const bool last = decision == most_decisions;
        // A name that holds nothing yet: a new file, linked there once whole.
        if (const new_name fresh = last ? new_name{-1, {}} : find_new_name(path); fresh.directory_fd >= 0) {
            const written result = create_file(path, fresh, tone);
            close(fresh.directory_fd);
            if (result != written::again)
                return result == written::done;
        }
        opened_output out = open_output(path);
        if (out.fd < 0) {
            report("cannot open", path, out.error);
            return false;
        }
        // Through another process's descriptor link there is no name of
        // ours to rename over.
        if (!S_ISREG(out.status.st_mode) || named.through_link)
            return write_in_place(path, out, tone);
        // A regular file no directory holds under its name: replaced
        // meanwhile by another run (no link left to it) is decided afresh;
        // otherwise never written in place for that, as a failure would
        // empty it.
        if (out.place.directory_fd < 0) {
            struct stat now{};
            if (!last && out.place.error == ENOENT && fstat(out.fd, &now) == 0 && now.st_nlink == 0) {
                forget_created(out);
                close(out.fd);
                continue;
            }
            return conclude("cannot find the directory that holds", path, out.place.error);
        }
        switch (replace_file(path, out, tone)) {
        case written::done:
            return true;
        case written::in_place:
            return write_in_place(path, out, tone);
        case written::failed:
        case written::again:
            return false;
        }
    }
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
