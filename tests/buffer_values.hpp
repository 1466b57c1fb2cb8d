// A sample of a buffer as the library fills it, whatever its format's type,
// as a double (signed zeros kept).
#pragma once

#include <puretone/puretone.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace puretone_test {

inline double sample_value(const std::vector<unsigned char>& buffer, int format, std::size_t at)
{
    if (format == PURETONE_FORMAT_S16) {
        std::int16_t value;
        std::memcpy(&value, buffer.data() + 2 * at, 2);
        return value;
    }
    if (format == PURETONE_FORMAT_F32) {
        float value;
        std::memcpy(&value, buffer.data() + 4 * at, 4);
        return value;
    }
    std::int32_t value;
    std::memcpy(&value, buffer.data() + 4 * at, 4);
    return value;
}

}  // namespace puretone_test
