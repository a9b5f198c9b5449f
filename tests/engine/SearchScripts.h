// Scripts for the serial ports a GPS search tries: receivers that deliver a stream at their own
// speed and garbage at the others, silent ports, and what a device's line was set to.
#pragma once

#include "common/SpeedTable.h"
#include "hub/engine/HubContext.h"
#include "platform/SerialPort.h"
#include "platform/testing/FakeSerialPorts.h"
#include "platform/testing/FakeThreads.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace tavro::testing {

// `length` bytes of what a UART hears at a wrong speed: never '$', '!', 0xA0 or 0xB0, so never
// a stream start.
inline std::string Garbage(size_t length, uint8_t seed = 0) {
    static constexpr uint8_t noise[] = {0x01, 0x55, 0xAA, 0x0F, 0xF0, 0x33, 0xCC, 0x7E,
                                        0x81, 0x18, 0xE7, 0x3C, 0xC3, 0x66, 0x99, 0xFE};
    std::string bytes;
    for (size_t i = 0; i < length; ++i) {
        bytes += static_cast<char>(noise[(i + seed) % sizeof noise]);
    }
    return bytes;
}

// A device that delivers `atOwnSpeed` after its line is set to `ownBaud`, and `elsewhere` after
// any other speed (what arrived before a speed change is gone, as the thread read it).
inline void DeliverAtSpeed(platform::testing::FakeSerialDevice& device, uint32_t ownBaud,
                           const std::string& atOwnSpeed, const std::string& elsewhere) {
    device.OnSetCommState([=](platform::testing::FakeSerialDevice& self, const platform::Dcb& dcb) {
        self.ClearInput();
        self.QueueInput(dcb.BaudRate == ownBaud ? atOwnSpeed : elsewhere);
    });
}

// The same bytes at every speed.
inline void DeliverAlways(platform::testing::FakeSerialDevice& device, const std::string& bytes) {
    DeliverAtSpeed(device, 0, bytes, bytes);
}

// The speeds a device's line was set to, in order.
inline std::vector<uint32_t> SpeedsSet(const platform::testing::FakeSerialDevice& device) {
    std::vector<uint32_t> speeds;
    for (const std::string& call : device.Calls()) {
        unsigned speed = 0;
        if (sscanf(call.c_str(), "SetCommState %u", &speed) == 1) {
            speeds.push_back(speed);
        }
    }
    return speeds;
}

inline std::vector<uint32_t> FirstSpeeds(size_t count) {
    return std::vector<uint32_t>(speedTable, speedTable + count);
}

// At the end of a test on fake threads: runs what is still queued; a count that stays above 0
// with no thread left is a failure (and is cleared, or the search would wait for ever).
inline void EndFakeThreads(platform::testing::FakeThreads& threads, SearchValues& values) {
    threads.RunDeferred();
    const uint32_t left = values.scanThreadCount.load();
    if (left != 0) {
        ADD_FAILURE() << "scanThreadCount stays at " << left << " with no thread left";
        values.scanThreadCount.store(0);
    }
}

} // namespace tavro::testing
