// Writing through a descriptor already open: a regular file in place, a
// device or FIFO as it is, a descriptor of this process as it stands.
#pragma once

#include "../tone_writer.hpp"
#include "resolve.hpp"

namespace puretone {

// The tone through out.fd, from the start of the file. A regular file is
// locked first, so that two runs take turns instead of mixing, stripped of
// its set-user-ID and set-group-ID bits (which a write by root would keep)
// and truncated; devices and FIFOs are written as they are. An existing
// file that fails part way is left empty (its old contents are gone); one
// this run created is removed. Closes out.fd.
bool write_in_place(const char* path, const opened_output& out, const tone_plan& tone);

// An open descriptor, written as it is: not reopened, so an appending caller
// keeps what came before; never removed or emptied. Closes fd.
bool write_descriptor(const char* path, int fd, const tone_plan& tone);

}  // namespace puretone
