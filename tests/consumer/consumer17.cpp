// C++17 with the C header alone: the library imposes no language standard.
// u8"" is a const char array in C++17 and a char8_t one in C++20, where
// this would not compile.
#include <puretone/puretone.h>

#include <cstdio>

int main()
{
    const char* language = u8"C++17";
    int16_t samples[12];
    if (puretone_samples(1000.0, 0, 12, samples) != PURETONE_OK || samples[11] != 32766)
        return 1;
    std::printf("puretone %s from %s\n", puretone_version(), language);
    return 0;
}
