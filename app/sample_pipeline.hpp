// A tone's frames as little-endian bytes, made in chunks, on worker threads
// where there are several, and handed over in order.
#pragma once

#include <puretone/puretone.h>

#include <cstddef>
#include <cstdint>

namespace puretone {

// Takes one chunk: bytes[0 .. size), the next in order. 0 to go on, or an
// errno to stop.
using chunk_consumer = int (*)(void* context, const unsigned char* bytes, std::size_t size);

// Frames 0 .. frame_count - 1 of `signal` in `format` (descriptions that
// puretone_signal_frames accepts, for every frame), as
// the file holds them: every sample low byte first, s24 in 3 bytes, given
// to `consume` on the calling thread, in order. With
// threads > 1, the caller and threads - 1 workers make chunks ahead while
// the caller consumes, in bounded memory; the workers block every signal,
// so the caller's handlers run on the caller's thread. Where no worker can
// be started, the caller makes every chunk. Stops at the first nonzero
// value of `consume` and returns it once no worker runs any more; 0 when
// all is consumed.
// How frames are made: puretone_signal_frames, or a call of its form (the
// inverse filter's, say).
using frame_maker = int (*)(const puretone_format*, const puretone_signal*, std::int64_t, std::int64_t, void*);

int make_in_order(const puretone_format& format, const puretone_signal& signal, std::int32_t frame_count, int threads,
                  chunk_consumer consume, void* context, frame_maker make = puretone_signal_frames);

}  // namespace puretone
