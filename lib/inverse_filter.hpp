// The inverse filter of an exponential or synchronized sweep, frame by
// frame, in f32: frame j is RN32(K e^(-j mu) x(N - 1 - j)), where mu = 1 /
// (R L), K = 4 f2 / (R^2 L) = 4 f2 mu / R, and x(i) is the sweep's real sin
// 2 pi c(i) times its fades' gains (puretone.h derives K).
//
// The vector pass (per block of frames): the sweep's brackets
// (signal_stream.hpp), each end widened by 2^-51 of itself to hold the
// real product of sine and gains, not its rounding; the weight w = K e^(-j
// mu) in double, from K and e^(-b mu) e^(-k mu) as double-doubles rounded
// to double (e^(-b mu) per block, e^(-k mu) per call), within 2^-50
// relative (three roundings to double and two products, 5 u, and the
// double-doubles' errors, below 2^-85: K's eta_mu + 27 u^2, each exp's
// 2^-98 plus its argument's error times |j mu| <= 28); the product's ends
// widened again. Where RN32 of both ends agree (and neither end is 0,
// whose sign the interval does not tell), that is the sample.
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
