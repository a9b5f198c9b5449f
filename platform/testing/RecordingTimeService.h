// Time service segments for tests: each unit's segment is an NtpShmTime in memory, written with
// the real protocol, and every sample is also recorded with its unit.
#pragma once

#include "platform/ErrorCodes.h"
#include "platform/NtpShmLayout.h"
#include "platform/TimeService.h"

#include <vector>

namespace tavro::platform::testing {

class RecordingTimeService final : public TimeService {
public:
    struct Written {
        uint32_t unit;
        TimeSample sample;
    };

    std::unique_ptr<TimeSegment> Attach(uint32_t unit, uint32_t& error) override {
        ++attempts;
        error = failWith;
        if (failWith != error::success || unit >= timeUnitCount) {
            return nullptr;
        }
        return std::make_unique<Segment>(*this, unit);
    }
    UnixTime Now() override { return now; }

    UnixTime now{1700000000, 0};
    uint32_t failWith = error::success; // what Attach answers
    uint32_t attempts = 0;
    uint32_t attached = 0; // segments held now
    NtpShmTime units[timeUnitCount] = {};
    std::vector<Written> written;

private:
    class Segment final : public TimeSegment {
    public:
        Segment(RecordingTimeService& service, uint32_t unit) : service_(service), unit_(unit) {
            ++service_.attached;
        }
        ~Segment() override { --service_.attached; }
        void Write(const TimeSample& sample) override {
            WriteNtpSample(service_.units[unit_], sample);
            service_.written.push_back({unit_, sample});
        }

    private:
        RecordingTimeService& service_;
        uint32_t unit_;
    };
};

} // namespace tavro::platform::testing
