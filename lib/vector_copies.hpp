// What the sample loops share to run on vectors: the attribute that copies
// a loop for each x86-64 instruction set, and a walk over the byte marks
// that the rounding tests leave on open samples.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// A loop's copy for each instruction set, chosen when the program loads.
// Division and multiplication round the same on all of them, and
// -ffp-contract=off keeps FMA out of the wider copies, so every copy gives
// the same bits. Not under the thread sanitizer: the resolver that chooses
// runs while the program is relocated, before the sanitizer's runtime is
// set up, and its instrumented code would crash.
#if PURETONE_VECTOR && defined(__x86_64__) && defined(__ELF__) && !defined(__SANITIZE_THREAD__)
#define PURETONE_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define PURETONE_VECTOR_CLONES
#endif

namespace puretone {

// Calls visit(k) for each k < count with marks[k] set, in order, reading
// the marks eight at a time: a block with few open samples costs little
// more than their number. marks holds whole words: the bytes from count up
// to the next multiple of 8 must be 0.
template <class Visit>
[[gnu::always_inline]] inline void for_each_marked(const std::uint8_t* marks, std::size_t count, Visit&& visit)
{
    for (std::size_t k = 0; k < count; k += 8) {
        std::uint64_t word;
        std::memcpy(&word, marks + k, 8);
        if constexpr (std::endian::native == std::endian::big)
            word = __builtin_bswap64(word);  // mark k + j in byte j, counted from the low end
        for (; word != 0; word &= word - 1)  // each byte is 0 or 1: one bit a mark
            visit(k + static_cast<std::size_t>(__builtin_ctzll(word)) / 8);
    }
}

}  // namespace puretone
