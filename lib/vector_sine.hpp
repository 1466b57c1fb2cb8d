// Vector estimates of the sine and cosine, from SLEEF's u35 functions: the
// first estimates before the sine kernel (sine_kernel.hpp), kept so that
// benchmarks and tests can run that path beside it (block_plan::sleef).
//
// Contract: the angles given are reduced by whole turns (angle_reduction.hpp),
// |r| < 3.4, and each estimate lies within sleef_error_bound of sin r (or
// cos r). Every estimate still goes through the rounding test, so the choice
// of instruction set changes speed, not bytes.
//
// This header is included by the files built for wider instruction sets,
// so it holds declarations and constants only: an inline function here
// could be emitted with wide instructions and then shared with code that
// must run on any CPU of the architecture.
#pragma once

#include <cstddef>

namespace puretone {

// SLEEF documents its u35 sine and cosine to err by at most 3.5 ulp, and for
// |r| < 15 takes its quickest path. A result in [-1, 1] has an ulp of at most
// 2^-52, so the error is below 3.5 * 2^-52 < 2^-50.
constexpr double sleef_error_bound = 0x1p-50;

// The bound the rounding test takes for an estimate of sin t made from the
// reduced angle: SLEEF's bound plus the reduction's, 2^-50 + 2^-51 <
// 2^-49.4. 2^-47 allows over five times that: SLEEF's bound is documented
// and tested, not proven.
constexpr double vector_error_bound = 0x1p-47;

// The instruction sets with a vector path, narrowest first.
#if defined(__x86_64__)
enum class vector_isa { sse2, avx, avx512f };
#elif defined(__aarch64__)
enum class vector_isa { advsimd, sve };
#endif

// Every count passed to vector_estimates is a multiple of this: eight doubles
// fill one AVX-512 register, and two or four the narrower ones (SVE takes any
// count).
constexpr std::size_t vector_lanes_max = 8;

bool cpu_supports(vector_isa isa);

// The widest instruction set this CPU and its operating system support;
// decided once, on the first call.
vector_isa widest_vector_isa();

// sines[k] = the u35 sine of angles[k], for k < count, and cosines[k] its
// cosine, unless cosines is null (both from one reduction, where SLEEF
// makes them together). The instruction set must be one cpu_supports; count
// a multiple of vector_lanes_max.
void vector_estimates(vector_isa isa, const double* angles, double* sines, double* cosines,
                      std::size_t count);

// One per instruction set, each in its own file built for that set.
#if defined(__x86_64__)
void vector_estimates_sse2(const double* angles, double* sines, double* cosines, std::size_t count);
void vector_estimates_avx(const double* angles, double* sines, double* cosines, std::size_t count);
void vector_estimates_avx512f(const double* angles, double* sines, double* cosines, std::size_t count);
#elif defined(__aarch64__)
void vector_estimates_advsimd(const double* angles, double* sines, double* cosines, std::size_t count);
void vector_estimates_sve(const double* angles, double* sines, double* cosines, std::size_t count);
#endif

}  // namespace puretone
