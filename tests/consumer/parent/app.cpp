// app FILE FREQUENCY SECONDS: writes the tone's samples, little-endian, as
// the program writes them after its header.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

std::vector<std::int16_t> whole_tone(double frequency, int seconds);

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const std::vector<std::int16_t> samples = whole_tone(std::atof(argv[2]), std::atoi(argv[3]));
    std::FILE* file = std::fopen(argv[1], "wb");
    if (samples.empty() || file == nullptr)
        return 1;
    for (const std::int16_t sample : samples) {
        const unsigned char bytes[2] = {static_cast<unsigned char>(sample & 0xFF),
                                        static_cast<unsigned char>((sample >> 8) & 0xFF)};
        std::fwrite(bytes, 1, 2, file);
    }
    return std::fclose(file) == 0 ? 0 : 1;
}
