// SPDX-License-Identifier: Apache-2.0
// Inputs made from their descriptions: the caller learns the kind only from what the input
// offers (a serial line or none), and failures come back as the input's last error.
#include "hub/input/MakeInput.h"

#include "hub/input/SerialLine.h"
#include "platform/testing/FakeSerialPorts.h"
#include "platform/testing/FakeTiming.h"

#include <gtest/gtest.h>

namespace tavro::testing {
namespace {

TEST(MakeInput, ASerialPortOpensPreparedWithItsLineAndSaysWhyItCannotOpen) {
    platform::testing::FakeSerialPorts ports;
    platform::testing::FakeSerialDevice& device = ports.Add(3);
    platform::testing::FakeTiming timing;
    const InputSystem system{ports, timing};
    SourceRecord record;
    uint32_t error = 1;
    InputDescription description;
    description.comNumber = 3;
    std::unique_ptr<Input> input = MakeInput(description, system, record, error);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(error, error::success);
    EXPECT_EQ(input->State(), SourceState::Closed) << "made, not opened";
    ASSERT_TRUE(input->Open());
    EXPECT_EQ(input->Tick(), SourceState::Connected);
    EXPECT_FALSE(input->KeepsItselfUp()) << "a silent port is the loop's to re-open";
    EXPECT_EQ(device.InQueueSize(), 1024u) << "given the hub's queues";
    EXPECT_EQ(device.Timeouts().ReadIntervalTimeout, platform::maxTimeout);
    SerialLine* line = input->Line();
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->ComNumber(), 3u);
    EXPECT_TRUE(line->Configure(9600, 8, 0, 0));
    EXPECT_EQ(device.State().BaudRate, 9600u);
    input->Close();
    EXPECT_EQ(input->State(), SourceState::Closed);
    EXPECT_EQ(device.OpenHandles(), 0u);

    description.comNumber = 4; // nothing there
    input = MakeInput(description, system, record, error);
    ASSERT_NE(input, nullptr);
    EXPECT_FALSE(input->Open());
    EXPECT_EQ(input->LastError().code, error::fileNotFound);
}

TEST(MakeInput, NoNetworkSourceIsMadeWithoutSockets) {
    platform::testing::FakeSerialPorts ports;
    platform::testing::FakeTiming timing;
    SourceRecord record;
    InputDescription description;
    description.address.kind = SourceKind::Tcp;
    uint32_t error = 0;
    EXPECT_EQ(MakeInput(description, {ports, timing}, record, error), nullptr);
    EXPECT_EQ(error, error::notSupported) << "an edition without sockets";
}

} // namespace
} // namespace tavro::testing
