/* The 1000 Hz sample 11 is 32766; NULL with a count is refused. */
#include <puretone/puretone.h>

#include <stdio.h>

int main(void)
{
    int16_t samples[12];
    if (puretone_samples(1000.0, 0, 12, samples) != PURETONE_OK || samples[11] != 32766)
        return 1;
    if (puretone_samples(1000.0, 0, 1, NULL) != PURETONE_ERROR_NULL)
        return 1;
    printf("puretone %s from C: %s\n", puretone_version(), puretone_strerror(PURETONE_ERROR_NULL));
    return 0;
}
