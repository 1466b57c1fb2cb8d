/* The 1000 Hz sample 11 is 32766; NULL with a count is refused; a format
 * description from C, 24 bits in stereo, gives the same sample in both
 * channels. */
#include <puretone/puretone.h>

#include <stdio.h>

int main(void)
{
    int16_t samples[12];
    if (puretone_samples(1000.0, 0, 12, samples) != PURETONE_OK || samples[11] != 32766)
        return 1;
    if (puretone_samples(1000.0, 0, 1, NULL) != PURETONE_ERROR_NULL)
        return 1;
    puretone_format format = PURETONE_FORMAT_INIT;
    format.sample_format = PURETONE_FORMAT_S24;
    format.channels = 2;
    int32_t frames[24];
    if (puretone_frames(&format, 1000.0, 0, 12, frames) != PURETONE_OK || frames[22] != frames[23]
        || frames[22] != 8388553 || puretone_header_length(&format) != 68)
        return 1;
    printf("puretone %s from C: %s\n", puretone_version(), puretone_strerror(PURETONE_ERROR_NULL));
    return 0;
}
