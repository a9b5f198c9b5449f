// SPDX-License-Identifier: Apache-2.0
#include "hub/engine/FixFreshness.h"

namespace tavro {
namespace {

constexpr int32_t dayMs = 24 * 3600 * 1000;
// A gap longer than this between two fix times is a receiver that lost its fix or was away,
// not its fix interval.
constexpr int32_t longestIntervalMs = 3600 * 1000;

} // namespace

// The fix interval comes from the receiver's own fix times, not from when the sentences
// arrived: a receiver stamps its fixes exactly one interval apart (1 s, 250 ms, 100 ms) however
// the line, the USB bridge or the hub's reads bunch them up, and a second sentence of the same
// fix (two talkers' RMC) carries the same time and is no gap at all. The interval is the median
// of the last eight gaps, so that fixes the receiver skipped (a gap of two intervals) or a
// change of rate move it only once they are the most.
void FixFreshness::FixReported(bool valid, int32_t timeOfDayMs, uint64_t nowUs) {
    reportSeen_ = true;
    if (valid) {
        fixSeen_ = fixSinceClose_ = true;
        lastFixUs_ = nowUs;
    }
    if (timeOfDayMs < 0 || timeOfDayMs >= dayMs) {
        return;
    }
    if (lastTimeOfDayMs_ >= 0) {
        const int32_t gap = (timeOfDayMs - lastTimeOfDayMs_ + dayMs) % dayMs; // across midnight
        if (gap == 0) {
            return; // the same fix again
        }
        if (gap <= longestIntervalMs) {
            gaps_[nextGap_] = static_cast<uint32_t>(gap);
            nextGap_ = (nextGap_ + 1) % gapCapacity;
            gapCount_ = gapCount_ < gapCapacity ? gapCount_ + 1 : gapCapacity;
        }
    }
    lastTimeOfDayMs_ = timeOfDayMs;
}

uint32_t FixFreshness::IntervalMs() const {
    if (gapCount_ == 0) {
        return 0;
    }
    // Eight values at most: sorted in place by insertion.
    uint32_t sorted[gapCapacity];
    for (int i = 0; i < gapCount_; ++i) {
        int at = i;
        for (; at > 0 && sorted[at - 1] > gaps_[i]; --at) {
            sorted[at] = sorted[at - 1];
        }
        sorted[at] = gaps_[i];
    }
    return sorted[(gapCount_ - 1) / 2];
}

uint64_t FixFreshness::CurrentLimitUs() const {
    const uint64_t intervals = uint64_t{IntervalMs()} * 1000 * currentFixIntervals;
    return intervals > currentFixMinimumUs ? intervals : currentFixMinimumUs;
}

} // namespace tavro
