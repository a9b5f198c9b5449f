// The serial port fake that tests of the hub's port logic rely on.
#include "platform/testing/FakeSerialPorts.h"

#include "platform/ErrorCodes.h"

#include <gtest/gtest.h>

namespace tavro::platform::testing {
namespace {

TEST(FakeSerialPorts, ScriptedInputRecordedOutputAndSettings) {
    FakeSerialPorts ports;
    FakeSerialDevice& device = ports.Add(3);
    uint32_t error = 0;
    auto port = ports.Open(3, SerialSharing::ReadWrite, error);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(error, error::success);

    device.QueueInput("$GPRMC");
    uint32_t errors = 0;
    ComStat status;
    ASSERT_EQ(port->ClearCommError(errors, status), error::success);
    EXPECT_EQ(status.cbInQue, 6u);
    char buffer[4];
    uint32_t got = 0;
    ASSERT_EQ(port->Read(buffer, sizeof buffer, got), error::success);
    EXPECT_EQ(std::string(buffer, got), "$GPR");

    uint32_t written = 0;
    ASSERT_EQ(port->Write("$PMTK400*36\r\n", 13, written), error::success);
    EXPECT_EQ(device.TakeOutput(), "$PMTK400*36\r\n");
    EXPECT_EQ(device.Output(), "");

    Dcb state;
    ASSERT_EQ(port->GetCommState(state), error::success);
    state.BaudRate = 4800;
    ASSERT_EQ(port->SetCommState(state), error::success);
    EXPECT_EQ(device.State().BaudRate, 4800u);
    ASSERT_EQ(port->SetupComm(1024, 1024), error::success);
    EXPECT_EQ(device.InQueueSize(), 1024u);
    const std::vector<std::string> calls = device.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], "Open shared");
    EXPECT_EQ(calls[1], "GetCommState");
    EXPECT_EQ(calls[2], "SetCommState 4800 flags 0x0001");
    EXPECT_EQ(calls[3], "SetupComm 1024 1024");
}

TEST(FakeSerialPorts, SharingFailuresAndUnplugging) {
    FakeSerialPorts ports;
    FakeSerialDevice& device = ports.Add(5);
    uint32_t error = 0;
    EXPECT_EQ(ports.Open(4, SerialSharing::ReadWrite, error), nullptr);
    EXPECT_EQ(error, error::fileNotFound);

    auto exclusive = ports.Open(5, SerialSharing::None, error);
    ASSERT_NE(exclusive, nullptr);
    EXPECT_EQ(ports.Open(5, SerialSharing::ReadWrite, error), nullptr);
    EXPECT_EQ(error, error::accessDenied);
    exclusive->Close();
    EXPECT_EQ(device.OpenHandles(), 0u);

    device.FailOpen(error::accessDenied);
    EXPECT_EQ(ports.Open(5, SerialSharing::ReadWrite, error), nullptr);
    EXPECT_EQ(error, error::accessDenied);
    device.FailOpen(error::success);

    auto port = ports.Open(5, SerialSharing::ReadWrite, error);
    ASSERT_NE(port, nullptr);
    device.Fail(SerialOperation::SetCommState, error::invalidParameter);
    EXPECT_EQ(port->SetCommState(Dcb{}), error::invalidParameter);
    device.LimitWrites(2);
    uint32_t written = 0;
    EXPECT_EQ(port->Write("abcdef", 6, written), error::success);
    EXPECT_EQ(written, 2u);

    ports.Remove(5);
    char buffer[4];
    uint32_t got = 0;
    EXPECT_EQ(port->Read(buffer, sizeof buffer, got), error::genFailure);
    EXPECT_EQ(ports.Open(5, SerialSharing::ReadWrite, error), nullptr);
    EXPECT_EQ(error, error::fileNotFound);
    EXPECT_EQ(ports.OpenAttempts(), 6u);
}

TEST(FakeSerialPorts, HooksLetATestPlayAReceiver) {
    FakeSerialPorts ports;
    FakeSerialDevice& device = ports.Add(2);
    // Talks only at 9600; garbage at any other speed.
    device.OnSetCommState([](FakeSerialDevice& self, const Dcb& state) {
        self.ClearInput();
        self.QueueInput(state.BaudRate == 9600 ? "$GPGGA" : "\xFF\xFE\x80");
    });
    device.OnWrite([](FakeSerialDevice& self, std::string_view bytes) {
        if (bytes.starts_with("$PMTK400")) {
            self.QueueInput("$PMTK500,1000,0,0,0,0*1A\r\n");
        }
    });
    uint32_t error = 0;
    auto port = ports.Open(2, SerialSharing::None, error);
    ASSERT_NE(port, nullptr);
    Dcb state;
    state.BaudRate = 4800;
    ASSERT_EQ(port->SetCommState(state), error::success);
    char buffer[64];
    uint32_t got = 0;
    ASSERT_EQ(port->Read(buffer, sizeof buffer, got), error::success);
    EXPECT_EQ(std::string(buffer, got), "\xFF\xFE\x80");
    state.BaudRate = 9600;
    ASSERT_EQ(port->SetCommState(state), error::success);
    uint32_t written = 0;
    ASSERT_EQ(port->Write("$PMTK400*36\r\n", 13, written), error::success);
    ASSERT_EQ(port->Read(buffer, sizeof buffer, got), error::success);
    EXPECT_EQ(std::string(buffer, got), "$GPGGA$PMTK500,1000,0,0,0,0*1A\r\n");
}

TEST(FakeSerialPortMap, ListsWhatItWasGivenOrFails) {
    FakeSerialPortMap map;
    map.Set({1, 3, 300});
    SerialPortList list;
    ASSERT_EQ(map.List(list), error::success);
    ASSERT_EQ(list.count, 3u);
    EXPECT_EQ(list.comNumbers[2], 300);
    map.Set({1}, error::fileNotFound);
    EXPECT_EQ(map.List(list), error::fileNotFound);
    EXPECT_EQ(list.count, 0u);
}

} // namespace
} // namespace tavro::platform::testing
