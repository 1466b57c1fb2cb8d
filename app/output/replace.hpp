// A regular file replaced whole, and a new file that appears only whole:
// the tone goes into a temporary file in the directory, which takes the
// place of the name once every byte is written and synced.
#pragma once

#include "../tone_writer.hpp"
#include "resolve.hpp"

namespace puretone {

enum class written {
    done,      // the file is in place
    failed,    // reported; what was written is taken back
    in_place,  // nothing written: only writing in place keeps what the old file has
    again,     // nothing written: the name changed under the run; decide afresh
};

// Replaces the opened regular file `out`, found in its directory: written
// in place where a replacement would lose something or cannot be renamed,
// and failed, with the old file untouched, where the file system fails. The
// old file's owner, group, mode and attributes are carried before any
// data, and carried again before the rename, and once more after it
// through the old file's descriptor, where they changed meanwhile. Closes
// out.fd, but where the answer is `in_place`.
written replace_file(const char* path, opened_output& out, const tone_plan& tone);

// Writes a new file at `place`, which held nothing: unnamed (O_TMPFILE,
// mode 0666 less the umask, or what a default ACL gives, as open(2) would)
// and linked at the name once whole, so that no reader sees it in part and
// no death of the process leaves it. `again` where the name was taken
// meanwhile (linkat never replaces nor follows) or the file system has no
// unnamed files: the path is then opened as an existing one.
written create_file(const char* path, const new_name& place, const tone_plan& tone);

}  // namespace puretone
