// What the output path names, as the kernel resolves it: a descriptor of
// this process, a name not taken yet, or a file opened with the kernel's
// checks, and where that file stands.
#pragma once

#include <string>
#include <sys/stat.h>

namespace puretone {

// Opens /dev/null on 0, 1 and 2 where they are closed, so that no file the
// run opens takes one of them (an error message written into the output).
// Those stay closed as far as the output goes: `-` with standard output
// closed is still EBADF (see closed_at_start).
void open_standard_descriptors();
// Whether descriptor `fd` (0, 1 or 2) was closed when the run began.
bool closed_at_start(int fd);

// The descriptor of this process that `path` stands for, or -1. "-" is
// standard output. Any other path stands for a descriptor when the kernel
// resolves its last name through a descriptor link (/proc/<pid>/fd/N,
// /dev/fd/N, /dev/stdout, in any spelling and through any symbolic links).
// Which descriptor is read from the links themselves: /dev/stdout is 1 and
// /dev/stdin 0, even where another descriptor holds the same file. Opening
// such a path afresh would truncate the file and lose the position an
// appending caller set up. Where the kernel cannot tell (no openat2, as
// under qemu-user), /dev/stdin, /dev/stdout, /dev/stderr, and a number in
// this process's descriptor directory however spelled (/dev/fd//1,
// /proc/<pid>/fd/1) count, but not a symbolic link of the user's that leads
// to one. Another process's descriptor link stands for the descriptor of
// this process that holds the same file, if any; either way it is no place
// to rename over: through_link says so. A descriptor link in the directory
// part (/proc/self/cwd/t.wav, /dev/fd/3/t.wav) is just a way to a directory.
struct named_output {
    int descriptor;     // this process's descriptor, or -1
    bool through_link;  // resolved through a descriptor link
};
named_output named_descriptor(const char* path);

// Where a regular file opened from `path` as `fd` (with status `opened`)
// stands: the directory, open with O_PATH (which needs only search
// permission), and the name in it that holds that very inode.
struct file_place {
    int directory_fd;  // -1 when no directory could be found to hold it
    std::string name;
    int error;         // then why: ENOENT when none holds it, else what failed (EMFILE)
};

// Tries the directory the path names, and from there the symbolic links
// the last name leads through, each relative to the directory before (so a
// path longer than PATH_MAX in all is found); then the one the kernel
// reports for the descriptor. Each is checked to hold the inode under that
// name, so a symbolic link or a rename meanwhile can never make it the
// wrong one. Nothing is found for a file that was deleted, or is reached
// only through a path that no longer leads to it.
file_place locate_file(const char* path, int fd, const struct stat& opened);

// The output, opened as named for writing, created if missing, never
// truncated: so permissions, fs.protected_symlinks and
// fs.protected_regular, ELOOP, EISDIR and ENOENT decide as for any
// program. A file this open creates is registered for removal on failure.
struct opened_output {
    int fd;
    int error;     // errno's meaning, when fd < 0; 0 when the name changed meanwhile
    bool created;  // by this run, and so removed again on failure
    struct stat status;
    file_place place;  // where a regular file stands (directory_fd -1: unknown)
};
opened_output open_output(const char* path);
// Forgets what open_output registered for removal, where the run decides
// afresh with a file it created replaced meanwhile.
void forget_created(const opened_output& out);

// A path whose last name holds nothing yet (not even a dangling symbolic
// link), in the directory the kernel resolves for it: opened with O_PATH,
// so search permission and fs.protected_symlinks decide for every
// directory on the way. directory_fd -1 where the name holds something,
// is empty, "." or "..", or the directory cannot be opened: the open of
// the path then says what it names, or why it cannot be had.
struct new_name {
    int directory_fd;
    std::string name;
};
new_name find_new_name(const char* path);

}  // namespace puretone
