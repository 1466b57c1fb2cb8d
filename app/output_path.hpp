// What the output path names, as the kernel resolves it.
#pragma once

#include <string>
#include <sys/stat.h>

namespace puretone {

// The descriptor of this process that `path` stands for, or -1. "-" is
// standard output. Any other path stands for a descriptor when the kernel
// resolves it through a descriptor link (/proc/<pid>/fd/N, /dev/fd/N,
// /dev/stdout, in any spelling and through any symbolic links) to a file
// that one of this process's descriptors has open. Opening such a path
// afresh would truncate the file and lose the position an appending caller
// set up. Where the kernel cannot tell (no openat2, as under qemu-user),
// /dev/stdout, /dev/stderr, and a number in this process's descriptor
// directory however spelled (/dev/fd//1, /proc/<pid>/fd/1) count, but not
// a symbolic link of the user's that leads to one. A descriptor link to a file that none of this
// process's descriptors holds (another process's) is no descriptor of
// ours, but it is still no place to rename over: through_link says so.
struct named_output {
    int descriptor;     // this process's descriptor, or -1
    bool through_link;  // resolved through a descriptor link
};
named_output named_descriptor(const char* path);

// Where a regular file opened from `path` as `fd` (with status `opened`)
// stands: an open directory and the name in it that holds that very inode.
struct file_place {
    int directory_fd;  // -1 when no directory could be found to hold it
    std::string name;
};

// Tries the directory the path names, then the one the kernel reports for
// the descriptor; each is checked to hold the inode under that name, so a
// symbolic link or a rename meanwhile can never make it the wrong one.
// Nothing is found for a file that was deleted, or is reached only through
// a path that no longer leads to it.
file_place locate_file(const char* path, int fd, const struct stat& opened);

}  // namespace puretone
