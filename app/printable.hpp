// Arguments and paths as they are shown in messages: always on one line, and
// never a byte the terminal would act on.
#pragma once

#include <string>
#include <string_view>

namespace puretone {

// `text` with every byte that is not printable escaped: \n, \t, \r, \\ and
// \xHH for the other control characters (C0, DEL and C1) and for bytes that
// are not valid UTF-8. Valid UTF-8 letters pass unchanged, so a path in any
// language reads as it is.
std::string printable(std::string_view text);

}  // namespace puretone
