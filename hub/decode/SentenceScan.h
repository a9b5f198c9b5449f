// One pass over a frame that finds what the parser needs before it decodes a sentence: whether
// any byte has its high bit set (text is 7-bit, so only then can a SiRF start be in it), where
// the sentence's text ends, the XOR of that text and where its commas are. The pass reads
// several bytes at a time: sixteen with SSE2, eight as 64-bit words everywhere else (the
// 32-bit Windows build); both give the same result for every frame.
#pragma once

#include "hub/decode/ByteScan.h"

#include <stdint.h>
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavro {

struct SentenceScan {
    // Frames are at most 510 bytes; commas beyond this many bytes are left to NmeaFields.
    static constexpr uint32_t coveredBytes = 512;

    // The first "*" or zero byte from index 1 on (the checksum covers bytes 1 to stop - 1),
    // or the frame's length when there is none.
    uint32_t stop = 0;
    uint8_t sum = 0;        // XOR of bytes 1 to stop - 1
    bool highBytes = false; // some byte of the whole frame is 0x80 or above
    // Bit i % 64 of word i / 64 is set when byte i (i < stop, i < coveredBytes) is ",".
    uint64_t commas[coveredBytes / 64];
};

namespace scan {

// Eight bytes as one 64-bit word; a lane is a byte.
struct WordLanes {
    using Block = uint64_t;
    static constexpr uint32_t width = 8;

    static Block Load(const uint8_t* bytes) { return LoadWord(bytes); }
    static Block Zero() { return 0; }
    static Block Xor(Block a, Block b) { return a ^ b; }

    // One bit per lane (bit j for lane j) from a mask that has the high bit of marked lanes.
    static uint32_t Pack(uint64_t highBitsOfLanes) {
        return static_cast<uint32_t>(((highBitsOfLanes >> 7) * 0x0102040810204080ull) >> 56);
    }
    static uint32_t Equal(Block block, uint8_t value) { return Pack(BytesEqual(block, value)); }
    static uint32_t Stops(Block block) { return Pack(BytesEqual(block, '*') | ZeroBytes(block)); }
    static Block Or(Block a, Block b) { return a | b; }
    static uint32_t High(Block block) { return Pack(block & 0x8080808080808080ull); }

    // `block` with lanes outside [lo, hi) cleared (lo <= hi <= width).
    static Block Lanes(Block block, uint32_t lo, uint32_t hi) {
        const uint64_t below = hi == width ? ~uint64_t{0} : (uint64_t{1} << (8 * hi)) - 1;
        return block & below & ~((uint64_t{1} << (8 * lo)) - 1);
    }
    static uint8_t Fold(Block block) {
        block ^= block >> 32;
        block ^= block >> 16;
        block ^= block >> 8;
        return static_cast<uint8_t>(block);
    }
};

#if defined(__SSE2__)
// Sixteen bytes in one SSE2 register.
struct Sse2Lanes {
    using Block = __m128i;
    static constexpr uint32_t width = 16;

    static Block Load(const uint8_t* bytes) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    }
    static Block Zero() { return _mm_setzero_si128(); }
    static Block Xor(Block a, Block b) { return _mm_xor_si128(a, b); }
    static uint32_t Equal(Block block, uint8_t value) {
        return static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(static_cast<char>(value)))));
    }
    static uint32_t Stops(Block block) {
        const __m128i star = _mm_cmpeq_epi8(block, _mm_set1_epi8('*'));
        const __m128i zero = _mm_cmpeq_epi8(block, _mm_setzero_si128());
        return static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(star, zero)));
    }
    static Block Or(Block a, Block b) { return _mm_or_si128(a, b); }
    static uint32_t High(Block block) { return static_cast<uint32_t>(_mm_movemask_epi8(block)); }
    static Block Lanes(Block block, uint32_t lo, uint32_t hi) {
        // Sixteen clear bytes, sixteen set, sixteen clear: a window slid over it selects lanes.
        alignas(16) static constexpr uint8_t window[48] = {
            0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
            0,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0,    0,    0,    0,
            0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0};
        const __m128i from = Load(window + 16 - lo);  // lanes lo and above
        const __m128i below = Load(window + 32 - hi); // lanes below hi
        return _mm_and_si128(block, _mm_and_si128(from, below));
    }
    static uint8_t Fold(Block block) {
        block = _mm_xor_si128(block, _mm_srli_si128(block, 8));
        block = _mm_xor_si128(block, _mm_srli_si128(block, 4));
        block = _mm_xor_si128(block, _mm_srli_si128(block, 2));
        block = _mm_xor_si128(block, _mm_srli_si128(block, 1));
        return static_cast<uint8_t>(_mm_cvtsi128_si32(block));
    }
};
using NativeLanes = Sse2Lanes;
#else
using NativeLanes = WordLanes;
#endif

// The scan with blocks of `L`. Every block is read whole from inside the frame: the last one
// ends at the frame's end and overlaps the one before, and a frame shorter than a block is
// copied first. Byte 0 is summed like the others and taken out again at the end.
template <typename L>
void Scan(const uint8_t* frame, uint32_t length, SentenceScan& out) {
    using Block = typename L::Block;
    constexpr uint32_t width = L::width;
    constexpr uint32_t coveredWords = SentenceScan::coveredBytes / 64;
    memset(out.commas, 0, sizeof out.commas);
    out.stop = length;
    Block sum = L::Zero();
    Block high = L::Zero(); // every byte of the frame ORed together
    bool stopped = false;
    // The last block of a frame that is not a whole number of blocks long. Lane j of `block`
    // is byte base + j; lanes from `lo` on are bytes not seen before. The marks of a stop at
    // byte 0 are cleared: it is "$" or "!" in any sentence.
    const auto takeLast = [&](Block block, uint32_t base, uint32_t lo, uint32_t marks) {
        const uint32_t stops = L::Stops(block) & marks & (base == 0 ? ~1u : ~0u);
        uint32_t commas = L::Equal(block, ',') & marks;
        if (stops == 0) {
            sum = L::Xor(sum, lo == 0 ? block : L::Lanes(block, lo, width));
        } else {
            const uint32_t end = static_cast<uint32_t>(__builtin_ctz(stops));
            commas &= (1u << end) - 1;
            sum = L::Xor(sum, L::Lanes(block, lo, end));
            out.stop = base + end;
            stopped = true;
        }
        const uint32_t word = base / 64;
        const uint32_t shift = base % 64;
        if (commas != 0 && word < coveredWords) {
            out.commas[word] |= uint64_t{commas} << shift;
            if (shift + width > 64 && word + 1 < coveredWords) {
                out.commas[word + 1] |= uint64_t{commas} >> (64 - shift);
            }
        }
    };
    constexpr uint32_t allLanes = (1u << width) - 1;
    static_assert(64 % width == 0, "a whole block fills part of one comma word");
    uint32_t at = 0;
    // Whole blocks from the start: lane j is byte at + j, and a block's marks fill its own
    // bits of a comma word.
    for (; at + width <= length; at += width) {
        const Block block = L::Load(frame + at);
        high = L::Or(high, block);
        if (stopped) {
            continue;
        }
        const uint32_t stops = L::Stops(block) & (at == 0 ? ~1u : ~0u);
        uint32_t commas = L::Equal(block, ',');
        if (stops == 0) {
            sum = L::Xor(sum, block);
        } else {
            const uint32_t end = static_cast<uint32_t>(__builtin_ctz(stops));
            commas &= (1u << end) - 1;
            sum = L::Xor(sum, L::Lanes(block, 0, end));
            out.stop = at + end;
            stopped = true;
        }
        if (at < SentenceScan::coveredBytes) {
            out.commas[at / 64] |= uint64_t{commas} << (at % 64);
        }
    }
    if (at < length) {
        if (length >= width) {
            const uint32_t base = length - width;
            const Block block = L::Load(frame + base);
            const uint32_t fresh = allLanes & ~((1u << (at - base)) - 1);
            high = L::Or(high, L::Lanes(block, at - base, width));
            if (!stopped) {
                takeLast(block, base, at - base, fresh);
            }
        } else {
            uint8_t copy[width] = {};
            memcpy(copy, frame, length);
            const Block block = L::Load(copy);
            const uint32_t fresh = allLanes >> (width - length);
            high = L::Or(high, block);
            takeLast(block, 0, 0, fresh);
        }
    }
    out.sum = static_cast<uint8_t>(L::Fold(sum) ^ (length != 0 ? frame[0] : 0));
    out.highBytes = L::High(high) != 0;
}

} // namespace scan

inline void ScanSentence(const uint8_t* frame, uint32_t length, SentenceScan& out) {
    scan::Scan<scan::NativeLanes>(frame, length, out);
}

} // namespace tavro
