// Arguments and paths as they are shown in messages: always on one line, and
// never a byte the terminal would act on.
#pragma once

#include <string>
#include <string_view>

namespace puretone {

// `text` with every byte that is not printable escaped: \n, \t, \r, \\ and
// \xHH for the other control characters (C0, DEL and C1) and for bytes that
// are not valid UTF-8, \u{XXXX} for the line and paragraph separators, the
// bidirectional controls (U+061C, U+200E, U+200F, U+202A..U+202E,
// U+2066..U+2069) and the other characters invisible by default (U+200B,
// U+00AD, U+FEFF, the tags U+E0000.. and the like). Other valid UTF-8
// passes unchanged, so a path in any language reads as it is.
std::string printable(std::string_view text);

}  // namespace puretone
