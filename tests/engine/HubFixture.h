// A fresh hub for engine tests: scripted serial ports, the driver in process with two virtual
// ports (COM7 and COM8) and its control device open, a recording clock, fake waits, no shared
// status mapping, and the main input port on COM3 at 4800 with a track log that records.
#pragma once

#include "hub/engine/GpsPort.h"
#include "hub/engine/HubContext.h"
#include "hub/engine/TrackLog.h"
#include "platform/ErrorCodes.h"
#include "platform/testing/FakeSerialPorts.h"
#include "platform/testing/FakeTiming.h"
#include "platform/testing/RecordingSystemClock.h"
#include "sys/usermode/InProcessDriver.h"
#include "tests/support/Nmea.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <string_view>
#include <vector>

namespace tavro::testing {

// Shared memory that is never there: the status block stays the private stand-in.
class NoSharedMemory final : public platform::SharedMemory {
public:
    uint32_t CreateOrOpen(const char*, uint32_t, platform::SharedView&) override {
        return error::notSupported;
    }
    uint32_t Open(const char*, platform::SharedView&) override { return error::fileNotFound; }
    void Close(platform::SharedView& view) override { view = {}; }
};

// Records what the port asks of its track log, and keeps the bytes it was given in order.
class RecordingTrackLog final : public TrackLog {
public:
    bool LogOpen() const override { return false; }
    void OpenLog(GpsPort&) override { calls.push_back("OpenLog"); }
    void FlushLog(GpsPort& port) override {
        calls.push_back("FlushLog " + std::to_string(port.logCount));
        logged.append(reinterpret_cast<const char*>(port.logBuffer),
                      static_cast<size_t>(port.logCount));
    }
    void CloseLog(GpsPort& port) override {
        calls.push_back("CloseLog");
        FlushLog(port);
    }

    std::vector<std::string> calls;
    std::string logged;
};

// "$<body>*hh\r\n" with the checksum of `body`.
inline const std::string rmc =
    Sentence("GPRMC,123519.250,A,4807.038,N,01131.000,E,022.4,084.4,230313,003.1,W");
inline const std::string gga =
    Sentence("GPGGA,123519,4807.038,N,01131.000,W,1,08,0.9,545.4,M,46.9,M,,");

inline constexpr uint32_t inputCom = 3;
inline constexpr uint32_t firstVirtualCom = 7;

class HubFixture : public ::testing::Test {
protected:
    HubFixture()
        : driver_({firstVirtualCom, firstVirtualCom + 1, 0, 0, 0, 0, 0, 0}),
          hub_({ports_, driver_.Control(), memory_, clock_, timing_}),
          device_(ports_.Add(inputCom)) {
        hub_.settings.port = inputCom;
        hub_.settings.baud = 4800;
        // The tick's relay: what these tests were written for. Relay on arrival has its own.
        hub_.settings.immediateRelay = 0;
        EXPECT_EQ(driver_.Control().Open(controlDeviceName), error::success);
        // No mapping here: the hub works on its private block, prepared as a fresh one.
        hub_.statusBlock.AttachHub();
        port_ = &hub_.CreateInputPort(&log_);
    }

    // An application's handle on virtual port COM7 (or COM8).
    std::unique_ptr<driver::usermode::ApplicationPort> Application(uint32_t com = firstVirtualCom) {
        uint32_t error = 0;
        auto application = driver_.OpenPort(com, error);
        EXPECT_EQ(error, error::success);
        return application;
    }

    // Queues `bytes` on the receiver's side and polls once; the frame length Poll returned.
    uint32_t Feed(std::string_view bytes) {
        device_.QueueInput(bytes);
        return port_->Poll();
    }

    GpsSharedStatus& Block() { return hub_.statusBlock.Block(); }
    std::string LineBuffer(uint32_t length) const {
        return std::string(reinterpret_cast<const char*>(hub_.lineBuffer), length);
    }

    platform::testing::FakeSerialPorts ports_;
    driver::usermode::InProcessDriver driver_;
    NoSharedMemory memory_;
    platform::RecordingSystemClock clock_;
    platform::testing::FakeTiming timing_;
    HubContext hub_;
    platform::testing::FakeSerialDevice& device_;
    RecordingTrackLog log_;
    GpsPort* port_ = nullptr;
};

} // namespace tavro::testing
