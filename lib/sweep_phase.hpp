// A sweep's phase in double-double arithmetic, with a proven bound: the
// constants of a description once, then any frame's phase, or a block's
// phases in turns for the vector pass (signal_stream.cpp).
//
// u = 2^-53; the operations' bounds are double_double.hpp's, exp's and
// log's double_double_exp.hpp's.
//
// The constants (plan_sweep), for lambda = ln(f2 / f1) = ln(1 + z):
//  - exponential: z = (f2 - f1) / f1 and x = f2 / f1 each within 20 u^2
//    (f2 - f1 exact by two-sum), lambda within eta = 2^-92; mu = lambda / N
//    within eta + 20 u^2; A = (f1 N) / (R lambda), f1 N exact, R lambda
//    within eta + 7 u^2: A within 2 eta + 48 u^2. So c(i) = A expm1(i mu).
//  - synchronized: M exact, mu = f1 / (R M) within 20 u^2 (R M exact below
//    2^73: as R times M's double, M < 2^53), A = M, lambda unused.
//  - linear: f1 / R within 20 u^2 and w = (f2 - f1) / (2 N R) within 20
//    u^2 (2 N R < 2^52, exact).
//
// Exponential and synchronized, frame i = b + k: e^(x + y) - 1 = e^x (e^y -
// 1) + (e^x - 1) = (e^x - 1)(e^y - 1) + (e^x - 1) + (e^y - 1), so with P =
// expm1(b mu), Q_k = expm1(k mu), H = A P and G = A + H = A e^(b mu):
//   c(b + k) = G Q_k + H,
// and the block's P itself, from an anchor a a whole number m <
// sweep_leaps of blocks before it, is P_a R_m + P_a + R_m with R_m =
// expm1(sweep_block m mu) (made once a call, as the Q_k are), or expm1(b
// mu) afresh.
// mu > 0 and A > 0, so every term is positive and relative errors add
// without cancelling. A relative error e of an argument y moves expm1(y)
// by at most e y e^y / (e^y - 1) <= e (1 + y) relative, and i mu <=
// lambda+ (lambda rounded up, N mu <= lambda (1 + eta + 20 u^2)). Each of
// the arguments (a product by a whole double) errs by mu's error plus 7
// u^2; mu's own error moves them all alike, as one error of i mu. So, with
// the three expm1s' 2^-94 each (P_a, R_m, Q_k), the products' 7 u^2 and the
// sums' 3 u^2 (about 40 u^2 in all), c errs by at most
//   rho = alpha_A + (eta_mu + 21 u^2) (1 + lambda+) + 2^-92
// relative (3 (2^-94) and 40 u^2 are below 2^-92). A frame made alone
// (sweep_cycles) takes A expm1(i mu), within the same rho.
//
// Linear, frame i = b + k: c(b + k) = c(b) + k s_b + k^2 w, s_b = f1 / R +
// 2 b w, with c(b) and s_b each reduced by whole turns (k s_b changes by a
// whole number with s_b) into [0, 1], or [-1, 0] where w < 0, so that the
// three terms share w's sign and each sum is plus_same_sign's, within 3.01
// u^2. c(b) errs by at most 31 u^2 (|f1 i / R| + |w| i^2) (each term 27 u^2,
// their sum 3 u^2, rounded up), s_b by 31 u^2 (|f1 / R| + 2 b |w|), and
// each reduction adds 2 u^2 (it adds the low part back, DWPlusFP, to a
// result of at most 1); k < sweep_block <= 128 multiplies s_b's. The frame's four further
// operations err by 7 u^2 or 3.01 u^2 of magnitudes below 1 + 128 + 2^14
// |w|. The block's bound, 2^-100 (magnitude + 128 (|f1 / R| + 2 b |w|) +
// 2^14 |w| + 512), holds it all with room (the reductions' 2 u^2 + 254 u^2
// and the operations' 1700 u^2 are below 2^-100 512).
//
// A frame made alone carries an absolute floor of 2^-1000 besides: a
// phase in the subnormal range errs in absolute terms.
//
// The turns: n = rint(c_high), x = (c_high - n) + c_low: c_high - n is
// exact, so x errs by the phase's error and its own rounding, 2^-54.
#pragma once

#include "lib/double_double.hpp"
#include "lib/sweep_terms.hpp"

#include <cstddef>
#include <cstdint>

namespace puretone {

// Frames a block of the vector pass: Q_k is made for k below it; an anchor
// serves the next sweep_leaps blocks. 64, not the tones' 128: a sweep's
// blocks hold double-double steps besides, and all must fit a 16 KiB
// stack on every target (s390x's frames are the largest).
constexpr std::size_t sweep_block = 64;
constexpr std::size_t sweep_leaps = 16;

struct sweep_plan {
    sweep_terms terms;
    double_double scale;  // A (exponential, synchronized) or f1 / R (linear)
    double_double step;   // mu (exponential, synchronized) or w (linear)
    double relative;      // rho (exponential, synchronized) or 2^-100 (linear), rounded up
    std::int32_t zero_scale;  // linear: s, with f1 and f2 whole multiples of 2^-s
};

// The plan of a checked sweep; false where the logarithm did not close
// (no input is known to do so).
bool plan_sweep(const sweep_terms& terms, sweep_plan& plan);

// c(i) for one frame, and a bound on its error.
struct sweep_phase {
    double_double cycles;
    double bound;
};
sweep_phase sweep_cycles(const sweep_plan& plan, std::int64_t index);

// What a call's blocks share (exponential and synchronized): Q_k =
// expm1(k mu) for k < sweep_block, R_m = expm1(sweep_block m mu) for m <
// sweep_leaps, and the last anchor P_a = expm1(a mu).
struct sweep_steps {
    double_double within[sweep_block];
    double_double leaps[sweep_leaps];
    std::int64_t anchor_at;  // a, or -1 for none yet
    double_double anchor;
};

// The steps for a call of `count` frames.
void make_sweep_steps(const sweep_plan& plan, std::int64_t count, sweep_steps& steps);

// turns[k] = c(first + k) less its nearest whole number, in double, for k <
// count <= sweep_block; returns a bound on |turns[k] - (c - n)|. `steps`
// from make_sweep_steps, for exponential and synchronized sweeps; its
// anchor moves on.
double sweep_turns(const sweep_plan& plan, std::int64_t first, std::size_t count, sweep_steps& steps, double* turns);

// sin 2 pi c(i) as a double-double h + l, within relative |h| + absolute.
struct sweep_sine_bounded {
    double_double value;
    double relative, absolute;
};
sweep_sine_bounded sweep_sine_estimate(const sweep_plan& plan, std::int64_t index);

// RN(sin 2 pi c(i)), where the double-double settles it: settled false
// where it cannot, for the accurate path to take.
struct sweep_sine {
    double value;
    bool settled;
};
sweep_sine sweep_sine_quick(const sweep_plan& plan, std::int64_t index);

}  // namespace puretone
