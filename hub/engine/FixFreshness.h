// SPDX-License-Identifier: Apache-2.0
// How fresh the fix is. The status block keeps the last position when the fix is lost or the
// receiver falls silent (its readers rely on that); this tells the readers that show it
// whether that position is the receiver's current fix or only its last known one: when the
// last valid fix arrived, how often the receiver reports its fixes, and when it last sent
// anything at all. Times are the host's monotonic microseconds (Timing::Microseconds).
#pragma once

#include <stdint.h>

namespace tavro {

// A fix is current no longer than this many fix intervals after it arrived...
inline constexpr uint32_t currentFixIntervals = 3;
// ...and never less than this long, so that a receiver that reports often is not called stale
// for a late sentence or two.
inline constexpr uint64_t currentFixMinimumUs = 3'000'000;

class FixFreshness {
public:
    // The sentence that decides the fix's validity arrived (RMC, else GGA or GNS, else GLL;
    // SiRF's geodetic data): whether it holds a valid fix, the receiver's time of day of that
    // fix in milliseconds (-1 when it gives none), and now.
    void FixReported(bool valid, int32_t timeOfDayMs, uint64_t nowUs);
    // The input was closed (or its network source dropped): a fix from before is not the
    // current one of the input once it is open again.
    void InputClosed() { fixSinceClose_ = false; }
    // A frame arrived from the input.
    void DataArrived(uint64_t nowUs) {
        dataSeen_ = true;
        lastDataUs_ = nowUs;
    }

    // Whether each kind of arrival happened since the hub started, and how long ago.
    bool AnyReport() const { return reportSeen_; }
    bool AnyFix() const { return fixSeen_; }
    bool AnyData() const { return dataSeen_; }
    uint64_t FixAgeUs(uint64_t nowUs) const { return Since(lastFixUs_, nowUs); }
    uint64_t DataAgeUs(uint64_t nowUs) const { return Since(lastDataUs_, nowUs); }

    // The receiver's fix interval in milliseconds as measured so far; 0 until it is known.
    uint32_t IntervalMs() const;
    // How old a valid fix may be and still be current: currentFixIntervals intervals, at
    // least currentFixMinimumUs.
    uint64_t CurrentLimitUs() const;
    // The input is open, and its last valid fix came since it was last closed and is younger
    // than CurrentLimitUs.
    bool Current(uint64_t nowUs, bool inputOpen) const {
        return inputOpen && fixSinceClose_ && FixAgeUs(nowUs) < CurrentLimitUs();
    }

private:
    static uint64_t Since(uint64_t thenUs, uint64_t nowUs) {
        return nowUs > thenUs ? nowUs - thenUs : 0;
    }

    static constexpr int gapCapacity = 8;
    bool reportSeen_ = false;
    bool fixSeen_ = false;
    bool fixSinceClose_ = false;
    bool dataSeen_ = false;
    uint64_t lastFixUs_ = 0;
    uint64_t lastDataUs_ = 0;
    int32_t lastTimeOfDayMs_ = -1;
    // The last gaps between the receiver's fix times (ms), a ring.
    uint32_t gaps_[gapCapacity] = {};
    int gapCount_ = 0;
    int nextGap_ = 0;
};

} // namespace tavro
