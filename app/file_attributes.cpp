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

// The names of a file's extended attributes; nothing where the file system
// has none. False when they cannot be listed.
bool attribute_names(int fd, std::vector<std::string>& names)
{
    names.clear();
    for (;;) {
        const ssize_t size = flistxattr(fd, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP;
        std::string list(static_cast<std::size_t>(size), '\0');
        const ssize_t got = flistxattr(fd, list.data(), list.size());
        if (got < 0 && errno == ERANGE)  // grew meanwhile
            continue;
        if (got < 0)
            return false;
        for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
            const std::string name = list.c_str() + at;
            at += name.size() + 1;
            if (name != file_capabilities)
                names.push_back(name);
        }
        return true;
    }
}

bool copy_attribute(int from, int to, const std::string& name)
{
    for (;;) {
        const ssize_t size = fgetxattr(from, name.c_str(), nullptr, 0);
        if (size < 0)
            return false;
        std::string value(static_cast<std::size_t>(size), '\0');
        const ssize_t got = fgetxattr(from, name.c_str(), value.data(), value.size());
        if (got < 0 && errno == ERANGE)
            continue;
        return got >= 0 && fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(got), 0) == 0;
    }
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
