// Eight bytes at a time: the word-wide byte tests the frame scans use.
#pragma once

#include <stdint.h>
#include <string.h>

namespace tavro {

inline constexpr uint64_t everyByte = 0x0101010101010101ull;

// Eight bytes as they lie in memory, the first in the lowest bits.
inline uint64_t LoadWord(const uint8_t* bytes) {
    uint64_t word;
    memcpy(&word, bytes, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
}

// The high bit of every byte of `word` that is zero, and of no other byte.
inline uint64_t ZeroBytes(uint64_t word) {
    constexpr uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    return ~(((word & low7) + low7) | word | low7);
}

// The high bit of every byte of `word` equal to `value`.
inline uint64_t BytesEqual(uint64_t word, uint8_t value) {
    return ZeroBytes(word ^ (everyByte * value));
}

} // namespace tavro
