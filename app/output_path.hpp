// What the output path names, decided before anything is opened.
#pragma once

#include <string>

namespace puretone {

enum class output_kind {
    descriptor,  // an open descriptor: "-", /dev/stdout, /dev/fd/N, /proc/self/fd/N
    replace,     // a regular file, or none yet: written beside, then renamed over
    in_place,    // a device, FIFO, directory or anything else: opened as named
};

struct output_target {
    output_kind kind;
    int descriptor;     // for output_kind::descriptor
    std::string final;  // for output_kind::replace: the path after every symbolic link
    int error;          // nonzero when the path cannot be used; errno's meaning
};

// Follows symbolic links one at a time (the link itself is kept; a dangling
// one leads to the file it names), stopping at a name of an open descriptor.
// Gives error ELOOP after 40 links, as the kernel does, and EACCES for an
// existing regular file this process may not write.
output_target resolve_output(const char* path);

}  // namespace puretone
