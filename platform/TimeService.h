// A time service's shared-memory reference clock: the segment, one per unit, that the NTP
// daemons (ntpd's driver 28, chrony's "refclock SHM") read samples from, and the system clock
// that the samples' receive times are read on. Writing a sample never sets the clock: the time
// service decides what to do with it.
#pragma once

#include <memory>
#include <stdint.h>

namespace tavro::platform {

// Units a segment can have: 0 and 1 are private to their owner, the others open to all. "NTP
// Unit" takes 0 to 3; the pulse-per-second goes to the unit after it.
inline constexpr uint32_t timeUnitCount = 8;

// A moment in UTC, seconds since 1970-01-01 and nanoseconds within the second.
struct UnixTime {
    int64_t seconds = 0;
    uint32_t nanoseconds = 0;
};

// One sample: what the receiver said the time was, and when the system clock saw it.
struct TimeSample {
    UnixTime clock;        // the receiver's UTC
    UnixTime receive;      // the system clock when the sample's first byte arrived
    int32_t leap = 0;      // 0 none, 1 a second is added, 2 one is removed, 3 not synchronised
    int32_t precision = 0; // log2 seconds
    int32_t samples = 0;   // how many samples the reader should filter over
};

class TimeSegment {
public:
    virtual ~TimeSegment() = default;
    // Publishes `sample` with the count/valid protocol that lets a reader tell a torn read.
    virtual void Write(const TimeSample& sample) = 0;
};

class TimeService {
public:
    // Attaches the segment of `unit` (below timeUnitCount), creating it when no time service
    // has yet. Null with a system error code when it cannot be had.
    virtual std::unique_ptr<TimeSegment> Attach(uint32_t unit, uint32_t& error) = 0;

    // The system clock now.
    virtual UnixTime Now() = 0;

protected:
    // Never deleted through this interface: the adapters are static objects that need no
    // destruction at exit.
    ~TimeService() = default;
};

// The adapter of the edition this program was built for.
TimeService& SystemTimeService();

} // namespace tavro::platform
