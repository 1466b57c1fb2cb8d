// puretone [options] <wav file> [<frequency> [sec]]
//
// Writes a WAV file holding a sine tone: by default 440 Hz at phase zero,
// mono, 16-bit, 44100 Hz, full scale; --rate, --format, --level and
// --channels choose others, --tone, --phase, --length, --frames and the
// fades make other signals. Exit status: 0 on success and for the usage line, 1 when the
// output cannot be opened or written, 2 for an argument out of range or a
// PURETONE_THREADS that is not a thread count.
#include "app/command_line.hpp"
#include "app/thread_count.hpp"
#include "app/tone_file.hpp"

#include <cstdint>

int main(int argc, char** argv)
{
    if (argc < 2)
        return puretone::print_usage(argc, argv);
    if (const auto status = puretone::answer_flag(argc, argv))
        return *status;
    const auto request = puretone::read_command_line(argc, argv);
    if (!request)
        return 2;
    const auto threads = puretone::read_thread_setting();
    if (!threads)
        return 2;
    // Frames: at most puretone_longest_frames, below 2^31, as the length
    // was checked.
    const puretone::tone_plan tone{puretone::signal_of(*request), request->frames, *threads, request->format};
    if (!puretone::write_tone_file(request->path, tone))
        return 1;
    return 0;
}
