// Owner, group, mode and extended attributes, descriptor to descriptor, so
// that a rename of the directory entries meanwhile cannot redirect them.
#include "file_attributes.hpp"

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
// has none. False when they cannot be listed.
bool attribute_names(int fd, std::vector<std::string>& names)
{
    names.clear();
    std::string list;
    if (!read_grown([fd](char* buffer, std::size_t size) { return flistxattr(fd, buffer, size); }, list))
        return errno == ENOTSUP;
    for (std::size_t at = 0; at < list.size();) {
        const std::string name = list.c_str() + at;
        at += name.size() + 1;
        if (name != file_capabilities)
            names.push_back(name);
    }
    return true;
}

bool copy_attribute(int from, int to, const std::string& name)
{
    std::string value;
    return read_grown([&](char* buffer, std::size_t size) { return fgetxattr(from, name.c_str(), buffer, size); },
                      value)
        && fsetxattr(to, name.c_str(), value.data(), value.size(), 0) == 0;
}

}  // namespace

bool carry_attributes(int from, const struct stat& old, int to)
{
    struct stat now{};
    if (fstat(to, &now) != 0)
        return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) && fchown(to, old.st_uid, old.st_gid) != 0)
        return false;
    std::vector<std::string> old_names, new_names;
    if (!attribute_names(from, old_names) || !attribute_names(to, new_names))
        return false;
    for (const std::string& name : new_names)
        if (std::find(old_names.begin(), old_names.end(), name) == old_names.end()
            && fremovexattr(to, name.c_str()) != 0)
            return false;
    for (const std::string& name : old_names)
        if (!copy_attribute(from, to, name))
            return false;
    // Last: the bits must be exactly the old ones, whatever the ACL set.
    // The old ACL's mask is the old group bits, so the two agree.
    return fchmod(to, old.st_mode & 07777 & ~mode_t{S_ISUID | S_ISGID}) == 0;
}

}  // namespace puretone
