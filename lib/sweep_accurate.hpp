// The accurate path of sweeps (sweep_terms.hpp), with no multiple-precision
// library: RN(sin(2 pi c(i))), a synchronized sweep's length, and a sample
// of the inverse filter, each by a Ziv loop over fixed-point evaluations of
// 128, 256 and 512 bits (multiword.hpp), each with a proven bound; what 512
// bits leave open is reported, never guessed.
//
// At P = 64n bits the sine is evaluated in fixed<n> (F = P - 2 fraction
// bits, u = 2^-F), and the real quantities before it in floating numbers
// over fixed<n + 1>: m 2^e, 1/2 <= |m| < 1, m with F + 64 fraction bits, so
// each is known to a relative eps = 2^-(F + 64) = 2^-64 u. Each floating
// operation's error, relative (proofs in sweep_accurate.cpp):
//   from an integer below 2^64 or a double: exact;  product: < 4 eps;
//   quotient by an integer below 2^63: < 4 eps;  reciprocal (Newton): < 10 eps;
//   sum: < 3 eps 2^e of the larger operand's exponent e, so < 6 eps when the
//   signs agree, and < 2 eps when aligning the smaller drops no set bit.
// Errors compose by adding: every figure below is rounded up by more than
// the products of pairs, all below 2^-250.
//
// The functions (proofs in sweep_accurate.cpp), for 0 < x < 1024:
//   E(x) = expm1(x)/x = sum x^j/(j+1)!, >= 1, with 0 < (ln E)' < 1 (as
//     e^x - 1 > x): an absolute error d in x moves E by a relative d at most.
//     x < 1/2: its series, within 270 eps (relative); else (e^x - 1) times
//     the reciprocal of x, within 2^12.5 eps.
//   e^x (|x| < 1024, x given to 2^-(F + 54)): 2^k e^r, k the integer nearest
//     x / ln 2, |r| < 3/8, e^r by its series: within 2^11 eps.
//   lambda = ln(f2/f1) = k ln 2 + 2 atanh(s), s = (q - 1)/(q + 1) < 1/3 for
//     q in [1, 2): within 2^lambda_error_bits = 2^9 eps. lambda < 759 for any
//     doubles 0 < f1 < f2 < 2^19, so no bound on f2/f1 is needed.
//
// The phase c(i), within phase_error = 2^phase_error_bits = 2^19 eps
// relative (i > 0):
//   exponential, synchronized: c = g E(x), g = f1 i / R (8 eps), x = i
//     lambda / N or g / M: x errs by below 8.1 eps x + lambda's 2^9 eps x
//     (exponential; x <= lambda < 759) or 12.1 eps x (synchronized, where
//     x < 1024 is required), so E by below 2^18.6 eps, and the product adds
//     4 eps: below 2^18.7 eps in all.
//   linear: c = i B / (2 N R), B = (2N - i) f1 + i f2 with both terms exact
//     (86 significant bits at most): aligning them drops no set bit or they
//     cannot cancel, so B within 6.01 eps; three operations more: < 19 eps.
//     c is rational: where 2c is whole (found in exact integer arithmetic)
//     the sine is exactly 0, returned as +0.
// The sine then, with n the series' terms:
//   |c| < 1/8: y = 2 pi c = (m pi/2) 2^(e+2), |y| < pi/4, and sin y = y
//     S(y), S(y) = sin(y)/y in [0.9, 1] by its series (fixed_sine.hpp) at
//     a = y truncated: |a - y| < 2.8 u, |S'| < |y|/3, so S within (3n + 2.74)
//     u; Y = m pi/2 within 3.58 u and their product within one unit more:
//     sin y = V 2^(e+2) within (4.72 n + 8.9) u 2^(e+2), the phase's error
//     adding below 2 pi phase_error |c| < 2^-40 u 2^(e+2). Relative, so the
//     tiny phases of tiny frequencies round as well as any.
//     small_angle_error_units(n) = 5n + 10 covers it.
//   |c| >= 1/8 (and below 2^32; the domain keeps it below 2^30): 4c = q +
//     f, q whole (mod 4), the fraction f truncated to F bits: within u +
//     4 |c| phase_error < (1 + 2^-11) u, and then accurate_sine.hpp's steps
//     2 to 4 (fixed_sine.hpp) unchanged: within quarter_turn_error_units(n)
//     = 3n + 7 units.
// If the ends of the estimate's interval round alike (signed zeros told
// apart), so does sin(2 pi c): rounding is monotonic. An exact 0 never
// would, which is why the linear kind's are found first; for the other
// kinds c(i), i > 0, is transcendental (ln(f2/f1) is, for rational f2/f1
// != 1, and e^x for rational x != 0: Lindemann-Weierstrass), so never a
// multiple of 1/2. Other sines that are doubles (1/2, 1) settle like any.
//
// Inverse samples: A = K e^(-y) g_in g_out, the exact K = 4 f2 lambda /
// (R N) and y = j lambda / N (exponential), or 4 f1 f2 / (R^2 M) and
// j f1 / (R M) (synchronized), within 2^19 eps relative (y errs by below
// 2^18.6 eps as x above, e^-y's evaluation adds 2^11 eps, K errs by below
// 2^9 + 20 eps, the gains' and the factors' products 12 eps); its mantissa
// truncated to n limbs (< 2u relative) times the sine's estimate s
// (|s| < 1.6) errs by below (1 + 2.6 + s's bound (1 + 2^-45)) u:
// inverse_error_units(b) = b + 4 over the sine's b, in units 2^-F of the
// product's scale.
//
// A synchronized sweep's length: Q = f1 T / lambda (T = asked / R) and
// R (M / f1) lambda each within 2^9.1 eps relative (lambda_error, and four
// operations), so within length_error_units = 1024 units of their
// mantissa's last place; the whole numbers at both ends agree or the next
// precision is tried. Neither is ever exactly half way (lambda is
// transcendental for rational f2/f1 != 1), so both rules are only stated.
#pragma once

#include "accurate_sine.hpp"
#include "sweep_terms.hpp"

#include <cstdint>

namespace puretone {

constexpr int lambda_error_bits = 9;   // lambda within 2^9 eps, relative
constexpr int phase_error_bits = 19;   // c within 2^19 eps, relative
constexpr std::uint64_t length_error_units = 1024;

constexpr std::uint64_t small_angle_error_units(int terms)
{
    return 5 * static_cast<std::uint64_t>(terms) + 10;
}

constexpr std::uint64_t inverse_error_units(std::uint64_t sine_units)
{
    return sine_units + 4;
}

// RN(sin(2 pi c(i))), 0 <= i < frames: precision 0 where the sine is exactly
// 0 (i = 0, or a linear phase on a half cycle: +0), else the bits that
// settled it, or -1 where none did or the terms lie outside the domain
// (rate 1 .. 768000, frames 1 .. 2^31, |f1|, |f2| <= rate/2; 0 < f1 < f2
// for the exponential and synchronized kinds, whole_cycles 1 .. 2^62, and
// for the synchronized kind x = i f1 / (R M) below 1024, which lengths
// from synchronized_length always give).
accurate_result accurate_sweep_sine(const sweep_terms& sweep, std::int64_t i);

// The same at one precision, for the tests: 128, 256 or 512 bits.
accurate_result accurate_sweep_sine_at(const sweep_terms& sweep, std::int64_t i, int bits);

// The estimates behind accurate_sweep_sine_at, for the tests to hold to
// their bounds, as 64-bit limbs, two's complement, least significant first:
// the phase c(i) = p 2^phase_exponent within 2^phase_error_bits eps
// relative, p with count + 1 limbs (F + 64 fraction bits); the sine within
// bound_units 2^(shift - F) of s 2^shift, s with count limbs (F = 64 count
// - 2). count is 0 where there is no estimate: bits not 128, 256 or 512,
// the sine exactly 0, or the terms outside the domain.
struct sweep_estimate {
    std::uint64_t phase[9];
    int phase_exponent;
    std::uint64_t sine[8];
    int shift;
    std::uint64_t bound_units;
    int count;
};
sweep_estimate accurate_sweep_estimate(const sweep_terms& sweep, std::int64_t i, int bits);

// M = round(f1 T / lambda) (ties away from zero), T = asked_frames / rate,
// lambda = ln(f2/f1), and N = round(rate (M / f1) lambda) (ties to even):
// false if 0 < f1 < f2 fails, M is 0 or above 2^62, N is outside
// 1 .. 2^31, or 512 bits leave either open.
bool synchronized_length(double f1, double f2, std::uint32_t rate, std::int64_t asked_frames,
                         std::int64_t& whole_cycles, std::int64_t& frames);

// RN32 of K e^(-j / (R L)) sin(2 pi c(N - 1 - j)) g_in g_out, exactly (L
// = N / (R lambda) for the exponential kind, M / f1 for the synchronized;
// K = 4 f2 / (R^2 L)), 0 <= j < frames, the gains (the fades' factors)
// finite doubles: precision 0 where it is exactly 0 (a gain 0, or j = N - 1:
// +0), else as accurate_sweep_sine; -1 for the linear kind too.
struct inverse_result {
    float value;
    int precision;
};
inverse_result accurate_inverse_sample(const sweep_terms& sweep, std::int64_t j, double gain_in, double gain_out);

}  // namespace puretone
