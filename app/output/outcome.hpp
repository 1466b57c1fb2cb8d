// How a write of the output ends: done, or taken back and reported.
#pragma once

namespace puretone {

// One line on standard error: "puretone: <failure> '<path>': <reason>",
// the path escaped, then `left` where something could not be taken back.
// `error` 0: the opened name changed meanwhile.
void report(const char* failure, const char* path, int error, const char* left = nullptr);

// Ends a write. Error 0: the run is complete, nothing is taken back any
// more, true. Otherwise what was written is taken back (see take_back.hpp),
// the failure reported, false.
bool conclude(const char* failure, const char* path, int error);

}  // namespace puretone
