// The GPS search on a fresh hub (see HubFixture: COM7 and COM8 are the driver's virtual ports,
// its control device open; the input port is COM3, closed) with a scripted serial port map and
// deterministic threads: the scanning threads run on the test's thread when the test says so,
// and every 100 ms wait returns at once.
#pragma once

#include "hub/engine/GpsSearch.h"
#include "platform/testing/FakeSerialPorts.h"
#include "platform/testing/FakeThreads.h"
#include "tests/engine/HubFixture.h"
#include "tests/engine/SearchScripts.h"

namespace tavro::testing {

class SearchFixture : public HubFixture {
protected:
    explicit SearchFixture(
        platform::testing::FakeThreads::Start start = platform::testing::FakeThreads::Start::Inline)
        : threads_(start), search_(hub_, portMap_, &threads_) {}

    // Threads a test left queued end here, before the search waits for them.
    ~SearchFixture() override { EndFakeThreads(threads_, hub_.search); }

    uint8_t State(uint32_t com) const { return hub_.search.portScanState[com].load(); }
    uint32_t Count() const { return hub_.search.scanThreadCount.load(); }

    platform::testing::FakeSerialPortMap portMap_;
    platform::testing::FakeThreads threads_;
    GpsSearch search_;
};

} // namespace tavro::testing
