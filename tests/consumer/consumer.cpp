// 11025 Hz repeats 0, 32767, 0, -32767; a bad start throws.
#include <puretone/puretone.hpp>

#include <cstdio>
#include <stdexcept>

int main()
{
    const auto samples = puretone::samples(11025, 4, 4);
    if (samples != std::vector<std::int16_t>{0, 32767, 0, -32767})
        return 1;
    try {
        puretone::samples(440, -1, 1);
        return 1;
    } catch (const std::out_of_range&) {
    }
    std::printf("puretone %s from C++\n", puretone::version());
    return 0;
}
