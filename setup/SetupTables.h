// The fixed tables of the receiver setup tool: the line speeds and fix rates it offers and the
// nineteen sentence slots of the MTK sentence-output command.
#pragma once

#include <array>
#include <stddef.h>
#include <stdint.h>

namespace tavro::setup {

// The speeds an MTK receiver is offered (the hub's own table also has 187500).
inline constexpr uint32_t lineSpeeds[] = {4800, 9600, 19200, 38400, 57600, 115200};
inline constexpr size_t lineSpeedCount = sizeof(lineSpeeds) / sizeof(lineSpeeds[0]);

// Fix intervals in milliseconds; entry i is listed as (i + 1) Hz.
inline constexpr int16_t fixIntervals[] = {1000, 500, 333, 250, 200};
inline constexpr size_t fixRateCount = sizeof(fixIntervals) / sizeof(fixIntervals[0]);

// Slots in the field order of $PMTK314 / $PMTK514.
inline constexpr size_t sentenceSlotCount = 19;
// A list offers the rates 0 (off) to 5 (every fifth fix).
inline constexpr int maxListedRate = 5;

// One output rate per slot: 0 off, n every n-th fix.
using SentenceRates = std::array<uint8_t, sentenceSlotCount>;

struct SentenceSlot {
    const char* label; // nullptr for the reserved slots 8-16, which have no list
    int control;       // the slot's list in dialog 101, 0 when none
    int size;          // bytes of one sentence, for the line-load estimate
    uint8_t defaultRate;
};

inline constexpr SentenceSlot sentenceSlots[sentenceSlotCount] = {
    {"GLL", 1006, 55, 0}, {"RMC", 1007, 77, 1},  {"VTG", 1008, 39, 0},  {"GGA", 1009, 92, 1},
    {"GSA", 1010, 67, 1}, {"GSV", 1011, 245, 1}, {"GRS", 1012, 47, 0},  {"GST", 1013, 52, 0},
    {nullptr, 0, 0, 0},   {nullptr, 0, 0, 0},    {nullptr, 0, 0, 0},    {nullptr, 0, 0, 0},
    {nullptr, 0, 0, 0},   {nullptr, 0, 0, 0},    {nullptr, 0, 0, 0},    {nullptr, 0, 0, 0},
    {nullptr, 0, 0, 0},   {"ZDA", 1023, 35, 0},  {"CHN", 1024, 205, 0},
};

// The slots that have a list, in table order.
inline constexpr size_t listedSlots[] = {0, 1, 2, 3, 4, 5, 6, 7, 17, 18};
inline constexpr size_t listedSlotCount = sizeof(listedSlots) / sizeof(listedSlots[0]);

inline bool SlotHasList(size_t slot) {
    return slot < sentenceSlotCount && sentenceSlots[slot].label != nullptr;
}

// What "$PMTK314,-1" restores.
SentenceRates DefaultSentenceRates();

inline constexpr size_t fixRateLabelCapacity = 24;

// "%dHz %dms": "1Hz 1000ms" for index 0 up to "5Hz 200ms"; empty for an index outside the
// table.
void FixRateLabel(size_t index, char (&text)[fixRateLabelCapacity]);

// The fix-rate entry to show for a receiver's fix interval: the entry of that interval, and
// the first entry (1 Hz) for any interval the table does not hold.
size_t FixRateIndexForInterval(int interval);

// The index of `speed` among lineSpeeds, or -1.
int LineSpeedIndex(uint32_t speed);

// The slot of a label ("GSV", any case), or -1.
int SlotOfLabel(const char* label);

} // namespace tavro::setup
