// Arguments and paths as they are shown in messages: always on one line, and
// never a byte the terminal would act on.
#pragma once

#include <string>
#include <string_view>

namespace puretone {

// `text` with every byte that is not printable escaped: \n, \t, \r, \\ and
// \xHH for the other control characters (C0, DEL and C1) and for bytes that
// are not valid UTF-8, \u{XXXX} for the line and paragraph separators and
// the bidirectional controls (U+200E, U+200F, U+202A..U+202E,
// U+2066..U+2069). Other valid UTF-8 passes unchanged, so a path in any
// language reads as it is.
std::string printable(std::string_view text);

}  // namespace puretone
