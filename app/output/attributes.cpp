// Owner, group, mode and extended attributes, descriptor to descriptor, so
// that a rename of the directory entries meanwhile cannot redirect them.
// Every failure keeps its errno: whether it means "cannot be carried" (then
// the file is written in place) or "the file system failed" (then the run
// fails) is the caller's question.
#include "attributes.hpp"

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace puretone {
namespace {

constexpr std::string_view file_capabilities = "security.capability";

// What `get(buffer, size)` reads, an attribute list or value: sized by
// asking first, and asked again where it grew meanwhile (ERANGE). False,
// with errno set, when it cannot be read.
template <typename getter>
bool read_grown(getter get, std::string& out)
{
    for (;;) {
        const ssize_t size = get(nullptr, 0);
        if (size < 0)
            return false;
        out.assign(static_cast<std::size_t>(size), '\0');
        const ssize_t got = get(out.data(), out.size());
        if (got >= 0) {
            out.resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
}

// The names of a file's extended attributes; nothing where the file system
// has none. 0, or the errno.
int attribute_names(int fd, std::vector<std::string>& names)
{
    names.clear();
    std::string list;
    if (!read_grown([fd](char* buffer, std::size_t size) { return flistxattr(fd, buffer, size); }, list))
        return errno == ENOTSUP ? 0 : errno;
    for (std::size_t at = 0; at < list.size();) {
        const std::string name = list.c_str() + at;
        at += name.size() + 1;
        if (name != file_capabilities)
            names.push_back(name);
    }
    return 0;
}

// 0, or the errno. An attribute removed from `from` since it was listed
// (ENODATA) is not carried, and removed from `to` if it is there.
int copy_attribute(int from, int to, const std::string& name)
{
    std::string value;
    if (!read_grown([&](char* buffer, std::size_t size) { return fgetxattr(from, name.c_str(), buffer, size); },
                    value))
        return errno != ENODATA ? errno : fremovexattr(to, name.c_str()) == 0 || errno == ENODATA ? 0 : errno;
    return fsetxattr(to, name.c_str(), value.data(), value.size(), 0) == 0 ? 0 : errno;
}

}  // namespace

int carry_attributes(int from, const struct stat& old, int to)
{
    struct stat now{};
    if (fstat(to, &now) != 0)
        return errno;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) && fchown(to, old.st_uid, old.st_gid) != 0)
        return errno;
    std::vector<std::string> old_names, new_names;
    if (const int error = attribute_names(from, old_names); error != 0)
        return error;
    if (const int error = attribute_names(to, new_names); error != 0)
        return error;
    for (const std::string& name : new_names)
        if (std::find(old_names.begin(), old_names.end(), name) == old_names.end()
            && fremovexattr(to, name.c_str()) != 0 && errno != ENODATA)
            return errno;
    for (const std::string& name : old_names)
        if (const int error = copy_attribute(from, to, name); error != 0)
            return error;
    // Last: the bits must be exactly the old ones, whatever the ACL set.
    // The old ACL's mask is the old group bits, so the two agree.
    return fchmod(to, old.st_mode & 07777 & ~mode_t{S_ISUID | S_ISGID}) == 0 ? 0 : errno;
}

bool cannot_be_carried(int error)
{
    return error == EPERM || error == EACCES || error == EOPNOTSUPP || error == ENOTSUP || error == EINVAL
           || error == E2BIG || error == ERANGE;
}

int carry_changes(int from, struct stat& old, int to)
{
    // One round: a change made while it runs is caught by the next call
    // (the replacement calls this again just after its rename), so a file
    // that keeps changing, such as one another process writes to, is
    // carried as it is, never chased.
    struct stat now{};
    if (fstat(from, &now) != 0)
        return errno;
    if (now.st_uid == old.st_uid && now.st_gid == old.st_gid && now.st_mode == old.st_mode
        && now.st_ctim.tv_sec == old.st_ctim.tv_sec && now.st_ctim.tv_nsec == old.st_ctim.tv_nsec)
        return 0;
    old = now;
    return carry_attributes(from, old, to);
}

}  // namespace puretone
