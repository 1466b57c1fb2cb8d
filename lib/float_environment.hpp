// The floating-point environment of a call into the library: the samples are
// computed in the default one (round to nearest, no traps, no flushing of
// subnormals), whatever the caller set, and the caller gets back exactly the
// environment it had: its rounding mode, its traps and its sticky flags (the
// flags the computation raises are dropped).
//
//   const saved_environment saved = enter_default_environment();
//   ... compute ...
//   leave_default_environment(saved);
//
// The environment is per thread, so this is safe from any number of threads.
#pragma once

#include <cfenv>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2_MATH__)
#include <xmmintrin.h>
#endif

namespace puretone {

#if defined(__x86_64__) && defined(__SSE2_MATH__)

// On x86-64 every float and double operation of the library, and of the C
// library's sin and cos, runs in SSE registers under MXCSR; the x87 unit
// serves only long double, which none of this code uses. So MXCSR is the
// whole environment that matters: reading and writing it takes a few
// cycles, where fegetenv/fesetenv also save and load the x87 state (about
// a hundred cycles more per call). 0x1F80: all exceptions masked, round to
// nearest, no flush-to-zero, no denormals-are-zero, no flags.
struct saved_environment {
    unsigned int mxcsr;
};

inline saved_environment enter_default_environment()
{
    const saved_environment saved{_mm_getcsr()};
    _mm_setcsr(0x1F80);
    return saved;
}

inline void leave_default_environment(saved_environment saved)
{
    _mm_setcsr(saved.mxcsr);
}

#elif defined(__i386__) && defined(__SSE2_MATH__)

// 32-bit x86 computes in SSE as well (built with -msse2 -mfpmath=sse), but
// passes and returns doubles through the x87 unit, and the C library's sine
// may use it: both units are saved and set. Not with fegetenv: the compiler
// may copy a double argument through the x87 unit before this runs, and a
// subnormal frequency stored there under the caller's underflow trap leaves
// that exception pending (flagged, unmasked); fegetenv reloads the state it
// saves, and the pending exception fires inside the call. fnstenv saves
// without waiting and masks every x87 exception; fninit then sets the
// default (all masked, round to nearest, flags clear). An exception left
// pending that way is dropped from what is restored: it came from the call
// itself, and restored it would fire on the caller's next x87 instruction.
// (A pending exception of the caller's own would have fired on this call's
// first x87 instruction in any case.)
struct saved_environment {
    unsigned short x87[14];  // fnstenv's 28 bytes: control word, status word, tags, pointers
    unsigned int mxcsr;
};

inline saved_environment enter_default_environment()
{
    saved_environment saved;
    __asm__ __volatile__("fnstenv %0\n\tfninit" : "=m"(saved.x87) : : "memory");
    saved.mxcsr = _mm_getcsr();
    _mm_setcsr(0x1F80);
    const unsigned short control = saved.x87[0], status = saved.x87[2];
    const auto pending = static_cast<unsigned short>(status & ~control & 0x3F);
    if (pending != 0)
        saved.x87[2] = static_cast<unsigned short>(status & ~(pending | 0x8080));  // and ES and B
    return saved;
}

inline void leave_default_environment(const saved_environment& saved)
{
    __asm__ __volatile__("fldenv %0" : : "m"(saved.x87) : "memory");
    _mm_setcsr(saved.mxcsr);
}

#else

struct saved_environment {
    std::fenv_t environment;
};

inline saved_environment enter_default_environment()
{
    saved_environment saved;
    std::fegetenv(&saved.environment);
    std::fesetenv(FE_DFL_ENV);
    return saved;
}

inline void leave_default_environment(const saved_environment& saved)
{
    std::fesetenv(&saved.environment);
}

#endif

// f() in the default environment, the caller's restored after it.
template <typename function>
inline auto in_default_environment(function f)
{
    const saved_environment saved = enter_default_environment();
    const auto result = f();
    leave_default_environment(saved);
    return result;
}

}  // namespace puretone
