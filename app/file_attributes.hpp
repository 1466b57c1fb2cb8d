// What a replacement must carry over from the file it replaces.
#pragma once

#include <sys/stat.h>

namespace puretone {

// Gives the file open as `to` what the file open as `from` (status `old`)
// has: owner, group, permission bits less set-user-ID and set-group-ID, and
// every extended attribute (the access ACL among them) but the file
// capabilities. Those the kernel drops from a file on any write, so a
// replacement drops them too. Attributes `to` was given that `from` lacks
// (an ACL from a directory's default ACL) are removed. False when any of it
// cannot be carried; `to` is then in some state between.
bool carry_attributes(int from, const struct stat& old, int to);

}  // namespace puretone
