// puretone [options] <wav file> [<frequency> [sec]]
//
// Writes a WAV file holding a sine tone: by default 440 Hz at phase zero,
// mono, 16-bit, 44100 Hz, full scale; --rate, --format, --level and
// --channels choose others, --tone, --phase, --length, --frames and the
// fades make other signals. Exit status: 0 on success and for the usage line, 1 when the
// output cannot be opened or written, 2 for an argument out of range or a
// PURETONE_THREADS that is not a thread count.
#include "app/command_line.hpp"
#include "app/companion_file.hpp"
#include "app/thread_count.hpp"
#include "app/tone_file.hpp"

#include <cstdint>
#include <cstdio>

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
    puretone::tone_plan tone{puretone::signal_of(*request), request->frames, *threads, request->format};
    // --inverse: the sweep's inverse filter, mono f32 at the same rate,
    // written whole beside the sweep before the sweep takes its name.
    puretone::companion_file inverse{request->inverse_path, tone};
    if (request->inverse_path != nullptr) {
        inverse.tone.format = PURETONE_FORMAT_INIT;
        inverse.tone.format.rate = request->format.rate;
        inverse.tone.format.sample_format = PURETONE_FORMAT_F32;
        inverse.tone.inverse = true;
        tone.before_commit = puretone::write_companion;
        tone.commit_context = &inverse;
    }
    if (!puretone::write_tone_file(request->path, tone))
        return 1;
    if (request->asked_frames != 0)
        std::fprintf(stderr, "puretone: the synchronized sweep ends at its end frequency after %ld frames, not %ld\n",
                     static_cast<long>(request->frames), static_cast<long>(request->asked_frames));
    return 0;
}
