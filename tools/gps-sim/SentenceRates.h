// Output rates per sentence slot, in the field order of the MTK sentence-output command:
// 0 = off, n = every n-th fix.
#pragma once

#include <array>
#include <stddef.h>
#include <stdint.h>

namespace tavro::gpssim {

enum SentenceSlot : uint8_t {
    slotGll = 0,
    slotRmc = 1,
    slotVtg = 2,
    slotGga = 3,
    slotGsa = 4,
    slotGsv = 5,
    slotGrs = 6,
    slotGst = 7,
    // 8..16 are reserved and always 0
    slotZda = 17,
    slotChn = 18,
};

inline constexpr size_t sentenceSlotCount = 19;
inline constexpr uint8_t maxSentenceRate = 5;

using SentenceRates = std::array<uint8_t, sentenceSlotCount>;

// What "$PMTK314,-1" restores and what the simulator starts with: RMC, GGA, GSA, GSV each fix.
inline constexpr SentenceRates defaultSentenceRates = {0, 1, 0, 1, 1, 1, 0, 0, 0, 0,
                                                       0, 0, 0, 0, 0, 0, 0, 0, 0};

// What a multi-constellation receiver (u-blox M8/M9) sends by default and restores on
// "$PMTK314,-1": GLL, RMC, VTG, GGA, GSA and GSV each fix.
inline constexpr SentenceRates multiGnssSentenceRates = {1, 1, 1, 1, 1, 1, 0, 0, 0, 0,
                                                         0, 0, 0, 0, 0, 0, 0, 0, 0};

} // namespace tavro::gpssim
