// Arguments and paths as they are shown in messages: always on one line, and
// never a byte the terminal would act on.
#pragma once

#include <string>
#include <string_view>

namespace puretone {

// `text` with everything escaped that would act on the terminal, break the
// line, or print like something else: \n, \t, \r, \\ and \xHH for the
// other control characters (C0, DEL and C1) and for bytes that are not
// valid UTF-8; \u{XXXX} for every character that is not a graphic
// character of its own, by its Unicode general category (printable_table.hpp:
// separators, combining marks, format characters such as the bidirectional
// controls, private use, unassigned), and for those that show nothing or a
// placeholder, but for a space U+0020 with something on either side. Other
// valid UTF-8 passes unchanged, so a path in any language reads as it is.
std::string printable(std::string_view text);

}  // namespace puretone
