// The samples of a signal (signal_format.hpp): tones summed per channel,
// with fades, in any format, any window of frames at a time.
//
// Each tone's sine is estimated by a kernel within its bound (sine_kernel.hpp:
// the coarse one for integer peaks below 2^16, the fine one above, and for
// f32 the fine one with a bound relative to the sine) and bracketed:
// RN(sin t) lies in [RN(y - E), RN(y + E)] (RN is monotonic) and in
// [-1, 1], narrowed at peaks by the kernel's peak distance where a block
// needs it (exact_sine.hpp). The
// fixed-order arithmetic is then carried out on the brackets' ends, as
// intervals: for doubles a in [al, ah] and b in [bl, bh], a + b lies in
// [al + bl, ah + bh] and a b between the least and the greatest of the
// four corner products; RN of each is monotonic, so RN(a op b) lies
// between RN of those ends, which are exactly the double operations on the
// ends, rounded to nearest. An amplitude is a point; a gain lies in [0, 1].
// Every step keeps the sample's true y inside its interval, and the
// format's rounding v (exact_sine.hpp) is monotonic: where v gives one
// sample at both ends, that is the sample. Where it does not, the frame is
// made again from the correctly rounded sines (accurate_sine.hpp), in the
// fixed order. So every sample is exact, and the kernel only sets the speed.
// One thing intervals do not hold is the sign of a zero, which f32 keeps:
// an f32 interval with an end at 0 is decided exactly, and a channel whose
// tones are all at level 0 takes each zero's sign from the tones' brackets
// (signal_stream.cpp). A sweep's sine is bracketed the same way, the
// kernel's bound widened by its phase's (sweep_phase.hpp); its open frames
// take the sine of the phase in double-double, then the multiword loop
// (sweep_accurate.hpp).
#pragma once

#include "lib/signal_format.hpp"
#include "lib/sine_stream.hpp"

#include <cstdint>

namespace puretone {

// Frames first .. first + count - 1 into out[0 .. count * channels - 1],
// interleaved, for a checked shape and format, with every tone's angle
// within the reduction's domain and first + count <= 2^31 (and <= L where
// a length is given). `plan.first_bound`, where not 0, replaces the
// kernel's bound, as for tones (sine_stream.hpp). False where the accurate
// path left a sine open; the window must then not be used.
template <class Sample>
[[nodiscard]] bool signal_frames(std::int64_t first, std::int64_t count, const signal_shape& shape,
                                 const tone_format& format, Sample* out, const block_plan& plan = {});

// A sweep's frames in blocks, for the sweep itself and its inverse filter:
// turns and sign are scratch once the brackets are made.
struct sweep_arrays {
    alignas(64) double turns[sweep_block];
    alignas(64) double low[sweep_block];
    alignas(64) double high[sweep_block];
    alignas(64) double sign[sweep_block];
};

// Brackets of y = RN(g s), s = RN(sin 2 pi c(i)), g the fades' gains
// applied in order, for frames first .. first + count - 1 (count <=
// sweep_block) into work.low and work.high; each also holds the real sin 2
// pi c(i) times the gains, but for the products' roundings (at most 2^-53
// of each, once a fade). `steps` from make_sweep_steps; the estimates by the
// coarse kernel or the fine one, within kernel_bound (or a raised one);
// the fades' within fade_bound. Returns the sine's bound.
double sweep_brackets(const signal_shape& shape, std::int64_t first, std::size_t count, sweep_steps& steps,
                      bool coarse, double kernel_bound, double fade_bound, sweep_arrays& work);

// RN(sin 2 pi c(i)): the double-double first, then the multiword Ziv loop;
// sets `unsettled` where that left it open.
double exact_sweep_sine(const sweep_plan& sweep, std::int64_t index, bool& unsettled);

// The fades' gains at frame `index`, each 1 where its fade does not reach.
struct fade_gains {
    double in, out;
};
fade_gains exact_fade_gains(const signal_shape& shape, std::int64_t index, bool& unsettled);

// The angle of tone `tone` at frame `index`, in the order the formula fixes.
double signal_angle(std::int64_t index, const signal_tone& tone, double rate);

}  // namespace puretone
