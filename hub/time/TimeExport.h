// The time export ("NTP Unit"): every valid fix's time, with the moment its first byte
// arrived, written as a sample into a time service's shared-memory reference clock, so that
// chrony or ntpd can discipline the system clock from the receiver while the hub shares it.
// The export never sets the clock itself.
//
// A sample is taken from the sentence that gives a valid fix's date and time, and only when
// the port measured the arrival of its burst (reads on arrival, "Immediate Relay", and not the
// first burst after an open, which may have begun before it): a time read by the 50 ms tick
// would carry the tick's lateness into the time service. The time must move forward, and by as
// much as the hub's own monotonic clock moved since the last sample (within a second): a
// receiver that jumps (a log replayed, a week-number rollover, whose dates before 2012 or read
// as 2080 and later are refused from the start) is refused, with one warning, until its time
// agrees with the last sample again.
//
// Belongs to the hub's main thread, like the input port that feeds it.
#pragma once

#include "hub/decode/PreciseFix.h"
#include "hub/settings/Settings.h"
#include "hub/time/PulseSource.h"
#include "platform/TimeService.h"
#include "platform/Timing.h"

#include <memory>
#include <stdint.h>

namespace tavro {

// NMEA over a serial line is good to about a millisecond: 2^-10 s.
inline constexpr int32_t nmeaPrecision = -10;
// The samples the time service should filter over (the daemons' own default).
inline constexpr int32_t exportSamples = 3;

struct TimeExportState {
    uint32_t unit = ntpUnitNone; // the unit written to, ntpUnitNone when none
    uint32_t attachError = 0;    // why the unit's segment could not be had, 0 when it was
    uint64_t samples = 0;        // samples written since the hub started
    int64_t lastOffsetNs = 0;    // the last sample's receive minus clock time
    uint64_t refused = 0;        // samples refused because the receiver jumped in time
    uint64_t unmeasured = 0;     // fixes without a measured arrival (read by the tick)
};

class TimeExport {
public:
    // `service` null: an edition without one; nothing is ever written.
    TimeExport(platform::TimeService* service, platform::Timing& timing)
        : service_(service), timing_(timing) {}

    // A valid fix gave `fix`'s date and time; the first byte of its burst arrived at
    // `burstStartUs` (platform::Timing::Microseconds) when `measured`. `unit` is "NTP Unit"
    // now: a change attaches the new unit's segment, ntpUnitNone lets the old one go. A unit
    // past ntpUnitMax (edited into the settings by hand) is off: its key could be anyone's.
    void FixTimed(uint32_t unit, const PreciseFix& fix, bool measured, uint64_t burstStartUs);

    // "NTP Unit" was read again (or the hub stops, with ntpUnitNone): lets a segment go that
    // is no longer named. Nothing is attached before a sample is due.
    void Follow(uint32_t unit);

    const TimeExportState& State() const { return state_; }

    // The pulse-per-second to tell of each accepted fix (null: none).
    void TellPulse(PulseSource* pps) { pps_ = pps; }

    // True once after the receiver's first jump in time since the last accepted sample: the
    // front end logs it.
    bool TakeJumpWarning() {
        const bool due = jumpWarningDue_;
        jumpWarningDue_ = false;
        return due;
    }

private:
    bool Attach(uint32_t unit);

    platform::TimeService* service_;
    platform::Timing& timing_;
    PulseSource* pps_ = nullptr;
    std::unique_ptr<platform::TimeSegment> segment_;
    TimeExportState state_;
    // A unit that could not be had is tried again at most once a minute, not at every fix.
    uint32_t failedUnit_ = ntpUnitNone;
    uint64_t failedAtUs_ = 0;
    bool hasLast_ = false;
    int64_t lastClockNs_ = 0; // the last accepted sample's receiver time
    uint64_t lastMonoUs_ = 0; // and when its burst arrived
    bool jumpWarningDue_ = false;
    bool jumpWarned_ = false;
};

} // namespace tavro
