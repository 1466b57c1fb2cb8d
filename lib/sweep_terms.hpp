// A sweep as its description fixes it, exactly: the record the fast path
// and the accurate path both read. No value here is rounded.
//
// Frame i's phase, in cycles, a real number (R the rate, N the frames,
// lambda = ln(f2 / f1), each exact):
//   exponential:   c(i) = (f1 N / (R lambda)) expm1(i lambda / N)
//                  (f1 L (e^(t/L) - 1) with t = i / R and L = T / lambda,
//                  T = N / R)
//   synchronized:  c(i) = M expm1(i f1 / (R M)), M = f1 L a whole number,
//                  so that c(i) = M e^(t/L) modulo whole cycles
//   linear:        c(i) = f1 i / R + (f2 - f1) i^2 / (2 N R)
// and the sweep's value at frame i is sin(2 pi c(i)), pi the real pi.
#pragma once

#include <cstdint>

namespace puretone {

enum class sweep_kind : std::int32_t { exponential = 0, synchronized = 1, linear = 2 };

struct sweep_terms {
    sweep_kind kind;
    double f1, f2;              // exponential, synchronized: 0 < f1 < f2; linear: f1 != f2
    std::uint32_t rate;         // R, 1 .. 768000
    std::int64_t frames;        // N, 1 .. 2^31: for synchronized, the length M fixes
    std::int64_t whole_cycles;  // M, for synchronized (1 .. 2^62); 0 otherwise
};

}  // namespace puretone
