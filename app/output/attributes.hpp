// What a replacement must carry over from the file it replaces, and
// whether that changed while the tone was written.
#pragma once

#include <sys/stat.h>

namespace puretone {

// Gives the file open as `to` what the file open as `from` (status `old`)
// has: owner, group, permission bits less set-user-ID and set-group-ID, and
// every extended attribute (the access ACL among them) but the file
// capabilities. Those the kernel drops from a file on any write, so a
// replacement drops them too. Attributes `to` was given that `from` lacks
// (an ACL from a directory's default ACL) are removed; one removed from
// `from` while being read is not carried. 0, or the errno of the first
// failure; `to` is then in some state between.
int carry_attributes(int from, const struct stat& old, int to);

// Whether a failure of carry_attributes says that the new file cannot hold
// what the old one has, so that only writing in place keeps it: no
// privilege to give the owner or group (EPERM), an attribute this user
// cannot read (EACCES) or the file system cannot hold (EOPNOTSUPP,
// ENOTSUP, EINVAL, E2BIG, ERANGE). Anything else (ENOSPC, EDQUOT, EIO) is a
// failure of the file system, which ends the run with the old file
// untouched: writing in place would empty it first.
bool cannot_be_carried(int error);

// Carries again what changed on `from` since `old` was read (a chmod, a
// chown, an ACL entry removed while the tone was written), so that the
// replacement never undoes it; `old` becomes the status carried. A change
// is told by the owner, group, mode or change time (which every change of
// an attribute or ACL moves, and so does a write). 0, or the errno of the
// failure.
int carry_changes(int from, struct stat& old, int to);

}  // namespace puretone
