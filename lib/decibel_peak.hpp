// The peak of a dBFS level, exactly, with no multiple-precision library:
// F 10^(d/20) rounded to the nearest whole number (ties away from zero) for
// the integer formats' full scale F, or RN(10^(d/20)) for f32, by a Ziv loop
// over fixed-point evaluations of 128, 256 and 512 bits (multiword.hpp).
//
// 10^(d/20) = 2^(-z), z = |d| log2(10) / 20, for d <= 0; at each precision
// (F = 64N - 2 fraction bits, u = 2^-F):
//  1. z = I + g, I whole, g in [0, 1): |d| = M 2^e exactly, and the exact
//     product M C, C = floor(2^704 log2(10)/20) (constant_bits.hpp), gives I
//     and g truncated to F bits; dropped, below |d| 2^-704 + u < 2u for
//     |d| < 7000.
//  2. b = g ln 2, ln 2 truncated to F bits: |b - g ln 2| < 2u + u/1 < 3u,
//     b in [0, ln 2).
//  3. v = e^-b = 2^-g in (1/2, 1] by Taylor's series, t_k = t_(k-1) b / k,
//     alternating: each term within 3u of the exact one at the stored b
//     (the error carried in shrinks by b/k < 0.7, the product and the
//     division add below u each, b's own error below |t_(k-1)| u); the sum
//     stops once a term is below 4u, leaving a tail below it. n terms: below
//     (3n + 4) u; b's error adds below 3u, as |d e^-b / db| <= 1.
//  4. 10^(d/20) = v 2^-I. For the integer formats, w = v (F 2^-32) (F 2^-32
//     exact; the product adds below u, and v's error shrinks by F 2^-32 < 1/2)
//     and the peak is w 2^(32 - I) rounded whole.
// In all, the value before scaling errs by below (3n + 8) u <= bound_units.
// The bounds on either side round to the same result after finitely many
// steps, as no tie is possible (tone_format.cpp says why); the loop gives up
// past 512 bits, which no level in the tests has needed.
#pragma once

namespace puretone {

// d <= 0 and finite; scale is F, or 1 for f32 (whole false). False where
// 512 bits leave the rounding open. `bits`, if not null, receives the
// precision that settled it (0: no series needed).
bool decibel_peak(double decibels, double scale, bool whole, double& peak, int* bits = nullptr);

}  // namespace puretone
