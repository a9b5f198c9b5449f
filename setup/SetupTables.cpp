#include "setup/SetupTables.h"

#include <stdio.h>

namespace tavro::setup {
namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameLabel(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (Upper(*a) != Upper(*b)) {
            return false;
        }
    }
    return *a == *b;
}

} // namespace

SentenceRates DefaultSentenceRates() {
    SentenceRates rates{};
    for (size_t slot = 0; slot < sentenceSlotCount; ++slot) {
        rates[slot] = sentenceSlots[slot].defaultRate;
    }
    return rates;
}

void FixRateLabel(size_t index, char (&text)[fixRateLabelCapacity]) {
    if (index >= fixRateCount) {
        text[0] = '\0';
        return;
    }
    snprintf(text, sizeof text, "%dHz %dms", static_cast<int>(index + 1),
             static_cast<int>(fixIntervals[index]));
}

size_t FixRateIndexForInterval(int interval) {
    for (size_t index = 0; index < fixRateCount; ++index) {
        if (fixIntervals[index] == interval) {
            return index;
        }
    }
    return 0;
}

int LineSpeedIndex(uint32_t speed) {
    for (size_t index = 0; index < lineSpeedCount; ++index) {
        if (lineSpeeds[index] == speed) {
            return static_cast<int>(index);
        }
    }
    return -1;
}

int SlotOfLabel(const char* label) {
    if (label == nullptr) {
        return -1;
    }
    for (const size_t slot : listedSlots) {
        if (SameLabel(sentenceSlots[slot].label, label)) {
            return static_cast<int>(slot);
        }
    }
    return -1;
}

} // namespace tavro::setup
