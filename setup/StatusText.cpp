#include "setup/StatusText.h"

#include <stdio.h>

namespace tavro::setup {

const char* FixWord(uint8_t streamState, uint8_t fixState) {
    if (streamState < static_cast<uint8_t>(StreamState::PortOpen)) {
        return "No GPS";
    }
    switch (static_cast<FixState>(fixState)) {
    case FixState::NoData:
        return "No NMEA";
    case FixState::NoFix:
        return "None";
    case FixState::Fix2D:
        return "2D";
    case FixState::Fix3D:
        return "3D";
    default:
        return "No GPS";
    }
}

void FixStatusText(const GpsSharedStatus& block, char (&text)[statusTextCapacity]) {
    snprintf(text, sizeof text, "Fix: %s   Fix counter: %ld",
             FixWord(block.streamState, block.fixState), static_cast<long>(block.rmcCount));
}

bool BandwidthEstimate(uint32_t speed, size_t rateIndex, const SentenceRates& rates, int& percent) {
    percent = 0;
    const uint32_t bytesPerSecond = speed / 10;
    if (bytesPerSecond == 0 || rateIndex >= fixRateCount) {
        return false;
    }
    uint32_t bytesPerFix = 0;
    for (size_t slot = 0; slot < sentenceSlotCount; ++slot) {
        if (rates[slot] != 0) {
            bytesPerFix += static_cast<uint32_t>(sentenceSlots[slot].size) / rates[slot];
        }
    }
    // At most 914 bytes x 5 fixes x 100: no overflow.
    percent = static_cast<int>(bytesPerFix * (rateIndex + 1) * 100 / bytesPerSecond);
    return true;
}

bool BandwidthText(uint32_t speed, size_t rateIndex, const SentenceRates& rates,
                   char (&text)[statusTextCapacity]) {
    int percent = 0;
    if (!BandwidthEstimate(speed, rateIndex, rates, percent)) {
        text[0] = '\0';
        return false;
    }
    snprintf(text, sizeof text, "Bandwidth: %d%%", percent);
    return true;
}

} // namespace tavro::setup
