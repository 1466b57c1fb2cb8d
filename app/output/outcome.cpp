// The end of a write, shared by every way of writing the output.
#include "outcome.hpp"

#include "../printable.hpp"
#include "take_back.hpp"

#include <puretone/puretone.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace puretone {

void report(const char* failure, const char* path, int error, const char* left)
{
    // EDOM: the library left a sample unsettled (sample_pipeline.cpp).
    const char* reason = error == 0      ? "it was replaced while being opened"
                         : error == EDOM ? puretone_strerror(PURETONE_ERROR_UNSETTLED)
                                         : std::strerror(error);
    const char* tail = left != nullptr ? left : "";
    try {
        std::fprintf(stderr, "puretone: %s '%s': %s%s\n", failure, printable(path).c_str(), reason, tail);
    } catch (const std::bad_alloc&) {  // no memory to escape the path: it is left out
        std::fprintf(stderr, "puretone: %s: %s%s\n", failure, reason, tail);
    }
}

bool conclude(const char* failure, const char* path, int error)
{
    if (error == 0) {
        run_complete();
        return true;
    }
    hold_interruptions();  // one take-back at a time
    take_back();
    release_interruptions();
    report(failure, path, error);
    return false;
}

}  // namespace puretone
