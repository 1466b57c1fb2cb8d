// The parent's own library, over puretone's: a whole tone.
#include <puretone/puretone.h>

#include <vector>

std::vector<int16_t> whole_tone(double frequency, int seconds)
{
    std::vector<int16_t> samples(static_cast<std::size_t>(seconds) * 44100);
    if (puretone_samples(frequency, 0, static_cast<int64_t>(samples.size()), samples.data()) != PURETONE_OK)
        samples.clear();
    return samples;
}
