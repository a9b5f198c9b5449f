// A parser host for tests: a private status block, settable options, and a record of what the
// parser asked its host to do.
#pragma once

#include "hub/decode/ParserHost.h"
#include "hub/time/ClockSync.h"
#include "platform/testing/RecordingSystemClock.h"

#include <string>
#include <utility>
#include <vector>

namespace tavro::testing {

class FakeParserHost final : public ParserHost {
public:
    FakeParserHost() {
        block.streamState = static_cast<uint8_t>(StreamState::NmeaStream);
        portNumber = 3;
    }

    GpsSharedStatus& Status() override { return block; }
    uint32_t OptionFlags() const override { return optionFlags; }
    bool MultiGnss() const override { return multiGnss; }
    uint32_t TickCount() override { return tick; }
    uint32_t RequestedBaud() const override { return requestedBaud; }
    void RequestReopen() override { ++reopenRequests; }
    void Relay(const uint8_t* bytes, uint32_t length) override {
        relayed.emplace_back(reinterpret_cast<const char*>(bytes), length);
    }
    // Behaves as the input port does, without the waiting: the requested speed is applied,
    // and the port opens again unless told to fail.
    bool RecoveryReopen(uint32_t& lineSpeed) override {
        ++recoveries;
        if (requestedBaud != 0) {
            baudRate = requestedBaud;
            requestedBaud = 0;
        }
        if (portNumber == 0 || !reopenSucceeds) {
            return false;
        }
        lineSpeed = baudRate;
        return true;
    }
    platform::SystemClock& Clock() override { return clock; }
    void SyncClock(GpsSharedStatus& fix) override { ClockSync(*this, fix); }
    bool BurstAge(uint32_t& milliseconds) override {
        milliseconds = burstAge;
        return burstAgeKnown;
    }

    void FixReported(bool valid, int32_t timeOfDayMs) override {
        fixReports.push_back({valid, timeOfDayMs});
    }

    GpsSharedStatus block{};
    uint32_t optionFlags = 0;
    bool multiGnss = true; // the setting's default
    uint32_t tick = 0;
    uint32_t requestedBaud = 0;
    int reopenRequests = 0;
    std::vector<std::string> relayed;
    int recoveries = 0;
    bool reopenSucceeds = true;
    bool burstAgeKnown = false;
    uint32_t burstAge = 0;
    uint32_t baudRate = 4800;
    platform::RecordingSystemClock clock;
    std::vector<std::pair<bool, int32_t>> fixReports; // validity, time of day (ms)
};

} // namespace tavro::testing
