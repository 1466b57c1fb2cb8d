// Vector estimates of the sine and cosine, from SLEEF's u35 functions.
//
// Contract: for every angle t with |t| <= vector_domain, the estimate lies
// within vector_error_bound of sin t (or cos t). Beyond that domain the value is
// meaningless and must never reach a sample: such angles take the scalar
// sine. Every estimate, in or out of the domain, still goes through the
// rounding test, so the choice of instruction set changes speed, not bytes.
//
// This header is included by the files built for AVX and AVX-512, so it
// holds declarations and constants only: an inline function here could be
// emitted with wide instructions and then shared with code that must run on
// any x86-64.
#pragma once

#include <cstddef>

namespace puretone {

// SLEEF documents the u35 sine and cosine to err by at most 3.5 ulp for
// |t| <= 1e14. A result in [-1, 1] has an ulp of at most 2^-52, so the error
// is below 3.5 * 2^-52 < 2^-50; 2^-47 allows eight times that.
constexpr double vector_error_bound = 0x1p-47;
constexpr double vector_domain = 1e14;  // where SLEEF's bound holds

// The instruction sets with a vector path, narrowest first.
enum class vector_isa { sse2, avx, avx512f };

// Every count passed to vector_estimates is a multiple of this: eight doubles
// fill one AVX-512 register, and two or four fill the narrower ones.
constexpr std::size_t vector_lanes_max = 8;

bool cpu_supports(vector_isa isa);

// The widest instruction set this CPU and its operating system support;
// decided once, on the first call.
vector_isa widest_vector_isa();

enum class trig_function { sine, cosine };

// estimates[k] = the u35 sine or cosine of angles[k], for k < count. The
// instruction set must be one cpu_supports; count a multiple of
// vector_lanes_max.
void vector_estimates(vector_isa isa, trig_function function, const double* angles, double* estimates,
                      std::size_t count);

// One per instruction set, each in its own file built for that set.
void vector_estimates_sse2(trig_function function, const double* angles, double* estimates,
                           std::size_t count);
void vector_estimates_avx(trig_function function, const double* angles, double* estimates,
                          std::size_t count);
void vector_estimates_avx512f(trig_function function, const double* angles, double* estimates,
                              std::size_t count);

}  // namespace puretone
