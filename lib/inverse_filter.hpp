// The inverse filter of an exponential or synchronized sweep, frame by
// frame, in f32: frame j is RN32(K e^(-j mu) x(N - 1 - j)), where mu = 1 /
// (R L), K = 4 f2 / (R^2 L) = 4 f2 mu / R, and x(i) is the sweep's real sin
// 2 pi c(i) times its fades' gains (puretone.h derives K).
//
// The vector pass (per block of frames): the sweep's brackets
// (signal_stream.hpp), which hold the real product of sine and gains but
// for the products' roundings; the weight w = K e^(-j mu) in double, from
// K e^(-j_a mu) at an anchor block, e^(sweep_block m mu) and e^(at mu) (each a
// double-double rounded to double), within 2^-50 relative (six roundings
// to double, 6 u, and the double-doubles' errors, below 2^-85: K's eta_mu +
// 27 u^2, each exp's 2^-98 plus its argument's error times |j mu| <= 28);
// RN(w y) at both ends, each widened by 2^-48 of itself. Where RN32 of both
// ends agree (and neither end is 0, whose sign as a double the real value
// may not have), that is the sample.
// Else the frame alone, in double-double: K, e^(-j mu) (exp, 2^-98 and the
// argument's error), the sine (sweep_phase.hpp, sweep_sine_estimate) and
// the gains, each product within 7 u^2; where that leaves it open, the
// multiword Ziv loop (sweep_accurate.hpp).
#pragma once

#include "lib/signal_format.hpp"

#include <cstdint>

namespace puretone {

// Frames first .. first + count - 1 into out, for a checked exponential or
// synchronized sweep and a window within its length. False where the
// accurate path left a sample open.
[[nodiscard]] bool inverse_frames(std::int64_t first, std::int64_t count, const signal_shape& shape, float* out);

}  // namespace puretone
