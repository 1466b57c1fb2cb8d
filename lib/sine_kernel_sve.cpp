// The sine kernel's loop for SVE, as many doubles at a time as this CPU's
// SVE registers hold: the compiler vectorises the one source in
// sine_kernel.hpp. Built with +sve; called only when the CPU has SVE.
#include "sine_kernel.hpp"

namespace puretone {

void kernel_estimates_sve(const kernel_polynomial<5>& kernel, std::int32_t first, double frequency,
                          double rate, double* sines, double* peaks, std::size_t count, bool far)
{
    kernel_estimates<true>(kernel, first, frequency, rate, sines, peaks, count, far);
}

void kernel_estimates_sve(const kernel_polynomial<8>& kernel, std::int32_t first, double frequency,
                          double rate, double* sines, double* peaks, std::size_t count, bool far)
{
    kernel_estimates<true>(kernel, first, frequency, rate, sines, peaks, count, far);
}

void kernel_estimates_sve(const relative_kernel& kernel, std::int32_t first, double frequency, double rate,
                          double* sines, double* low, std::size_t count, bool far)
{
    kernel_estimates<true>(kernel, first, frequency, rate, sines, low, count, far);
}

}  // namespace puretone
