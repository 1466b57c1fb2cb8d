// Resolves the output path by hand, link by link, so that the final file is
// known before the run writes anything: a replacement must be made in the
// directory of the file it replaces, not beside the link that names it.
#include "output_path.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace puretone {
namespace {

constexpr int max_links = 40;  // Linux's own limit on links in one lookup

// The descriptor a name stands for, or -1. These names are links into
// /proc, which the kernel would follow to the file behind the descriptor;
// opening that file afresh would truncate it and lose the position an
// appending caller set up.
int named_descriptor(std::string_view path)
{
    if (path == "-" || path == "/dev/stdout")
        return 1;
    if (path == "/dev/stderr")
        return 2;
    for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        if (path.substr(0, prefix.size()) != prefix)
            continue;
        const std::string_view digits = path.substr(prefix.size());
        if (digits.empty() || digits.size() > 9)  // below INT_MAX
            return -1;
        int fd = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return -1;
            fd = fd * 10 + (c - '0');
        }
        return fd;
    }
    return -1;
}

// A link's target, read relative to the directory that holds the link.
std::string beside(const std::string& link, const std::string& target)
{
    if (target.front() == '/')
        return target;
    const auto slash = link.rfind('/');
    return slash == std::string::npos ? target : link.substr(0, slash + 1) + target;
}

}  // namespace

output_target resolve_output(const char* path)
{
    std::string current = path;
    for (int links = 0;; ++links) {
        if (const int fd = named_descriptor(current); fd >= 0)
            return {output_kind::descriptor, fd, {}, 0};
        struct stat status{};
        if (lstat(current.c_str(), &status) != 0) {
            // Nothing there yet (or a dangling link's target): a new file.
            // Any other failure shows when the file is opened.
            return {errno == ENOENT ? output_kind::replace : output_kind::in_place, -1, current, 0};
        }
        if (S_ISREG(status.st_mode)) {
            const int error = access(current.c_str(), W_OK) == 0 ? 0 : errno;
            return {output_kind::replace, -1, current, error};
        }
        if (!S_ISLNK(status.st_mode))
            return {output_kind::in_place, -1, {}, 0};
        if (links == max_links)
            return {output_kind::in_place, -1, {}, ELOOP};
        char target[PATH_MAX];
        const ssize_t length = readlink(current.c_str(), target, sizeof target);
        if (length <= 0 || length == sizeof target)
            return {output_kind::in_place, -1, {}, length < 0 ? errno : ENAMETOOLONG};
        current = beside(current, std::string(target, static_cast<std::size_t>(length)));
    }
}

}  // namespace puretone
