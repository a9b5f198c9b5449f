#include "hub/time/TimeExport.h"

#include "platform/ErrorCodes.h"

namespace tavro {
namespace {

constexpr int64_t nsPerSecond = 1000000000;
constexpr uint64_t retryUs = 60u * 1000000u;
// Older dates come from receivers without almanac or from a week-number rollover, and so do
// later ones: RMC's two-digit years 80 to 99 (1980-1999 for a receiver 1024 weeks behind) read
// as 2080 to 2099.
constexpr uint16_t firstYear = 2012;
constexpr uint16_t lastYear = 2079;
// How far the receiver's step may differ from the hub's own between two samples: a second,
// plus what two monotonic clocks can drift apart in that time (1 ms per second).
constexpr int64_t jumpToleranceNs = nsPerSecond;

bool Plausible(const PreciseFix& fix) {
    return fix.hasDate && fix.hasTime && fix.month >= 1 && fix.month <= 12 && fix.day >= 1 &&
           fix.day <= 31 && fix.hour < 24 && fix.minute < 60 && fix.second >= 0 && fix.second < 61;
}

// Days since 1970-01-01 of a date from 1970 to 2099, in which every fourth year is a leap year
// (2000 was one).
int64_t DaysSince1970(int64_t year, uint32_t month, uint32_t day) {
    static constexpr uint16_t daysBeforeMonth[12] = {0,   31,  59,  90,  120, 151,
                                                     181, 212, 243, 273, 304, 334};
    const bool leapDayPassed = year % 4 == 0 && month > 2;
    return (year - 1970) * 365 + (year - 1969) / 4 + daysBeforeMonth[month - 1] +
           (leapDayPassed ? 1 : 0) + day - 1;
}

} // namespace

// After Follow(unit): a segment held is the unit's.
bool TimeExport::Attach(uint32_t unit) {
    if (segment_ != nullptr) {
        return true;
    }
    if (service_ == nullptr) {
        return false;
    }
    const uint64_t now = timing_.Microseconds();
    if (failedUnit_ == unit && now - failedAtUs_ < retryUs) {
        return false;
    }
    uint32_t error = error::success;
    segment_ = service_->Attach(unit, error);
    if (segment_ == nullptr) {
        failedUnit_ = unit;
        failedAtUs_ = now;
        state_.attachError = error != error::success ? error : error::genFailure;
        return false;
    }
    failedUnit_ = ntpUnitNone;
    state_.attachError = error::success;
    state_.unit = unit;
    return true;
}

void TimeExport::Follow(uint32_t unit) {
    unit = unit <= ntpUnitMax ? unit : ntpUnitNone;
    if (segment_ != nullptr && state_.unit != unit) {
        segment_.reset();
        state_.unit = ntpUnitNone;
    }
    if (unit == ntpUnitNone) {
        state_.attachError = error::success;
        failedUnit_ = ntpUnitNone;
    }
}

void TimeExport::FixTimed(uint32_t unit, const PreciseFix& fix, bool measured,
                          uint64_t burstStartUs) {
    unit = unit <= ntpUnitMax ? unit : ntpUnitNone;
    Follow(unit);
    if (unit == ntpUnitNone || !Plausible(fix)) {
        return;
    }
    if (!measured) {
        ++state_.unmeasured;
        return;
    }
    // Rounded to whole nanoseconds (the second is 0 to below 61, checked above).
    const int64_t secondNs = static_cast<int64_t>(fix.second * 1e9 + 0.5);
    const int64_t clockNs =
        ((DaysSince1970(fix.year, fix.month, fix.day) * 24 + fix.hour) * 60 + fix.minute) * 60 *
            nsPerSecond +
        secondNs;
    // A week-number rollover puts the date 19.6 years back: such a date is refused even
    // without an earlier sample to compare with.
    bool jumped = fix.year < firstYear || fix.year > lastYear;
    if (hasLast_ && !jumped) {
        if (clockNs == lastClockNs_) {
            return; // the same epoch told again (RMC, then ZDA)
        }
        const int64_t step = clockNs - lastClockNs_;
        const int64_t elapsed = static_cast<int64_t>(burstStartUs - lastMonoUs_) * 1000;
        const int64_t tolerance = jumpToleranceNs + elapsed / 1000;
        jumped = step < 0 || step - elapsed > tolerance || elapsed - step > tolerance;
    }
    if (jumped) {
        ++state_.refused;
        if (!jumpWarned_) {
            jumpWarned_ = true;
            jumpWarningDue_ = true;
        }
        return;
    }
    if (!Attach(unit)) {
        return;
    }
    // The system clock at the burst's first byte: now, less the burst's age on the
    // monotonic clock (which no clock step moves).
    const uint64_t monoNow = timing_.Microseconds();
    const platform::UnixTime wallNow = service_->Now();
    const int64_t ageNs = static_cast<int64_t>(monoNow - burstStartUs) * 1000;
    const int64_t receiveNs = wallNow.seconds * nsPerSecond + wallNow.nanoseconds - ageNs;

    platform::TimeSample sample;
    sample.clock = {clockNs / nsPerSecond, static_cast<uint32_t>(clockNs % nsPerSecond)};
    sample.receive = {receiveNs / nsPerSecond, static_cast<uint32_t>(receiveNs % nsPerSecond)};
    sample.leap = 0; // NMEA says nothing of leap seconds to come
    sample.precision = nmeaPrecision;
    sample.samples = exportSamples;
    segment_->Write(sample);

    ++state_.samples;
    state_.lastOffsetNs = receiveNs - clockNs;
    if (pps_ != nullptr) {
        pps_->FixSeen(clockNs, receiveNs);
    }
    hasLast_ = true;
    jumpWarned_ = false;
    lastClockNs_ = clockNs;
    lastMonoUs_ = burstStartUs;
}

} // namespace tavro
