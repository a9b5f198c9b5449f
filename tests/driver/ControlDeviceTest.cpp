// The control device: one handle at a time, the exchange record, collecting application
// writes, read-only mode, the broadcast to every open handle, and the traffic counts.
#include <string>

#include "tests/driver/DriverFixture.h"

namespace tavro::driver::testing {
namespace {

using ControlDeviceTest = DriverFixture;

TEST_F(ControlDeviceTest, AllowsOneHandleAtATime) {
    FileObject hub;
    FileObject second;
    ControlDevice& control = driver_.Control();
    EXPECT_EQ(driver_.Dispatch(control, *MakeCreate(hub)), status::success);
    EXPECT_EQ(driver_.Dispatch(control, *MakeCreate(second)), status::unsuccessful);
    EXPECT_EQ(control.OpenCount(), 1u);
    EXPECT_EQ(driver_.Dispatch(control, *MakeSimple(MajorFunction::Close, hub)), status::success);
    EXPECT_EQ(control.OpenCount(), 0u);
    EXPECT_EQ(driver_.Dispatch(control, *MakeSimple(MajorFunction::Close, hub)), status::success);
    EXPECT_EQ(control.OpenCount(), 0u) << "a close with nothing open must not wrap the count";
    EXPECT_EQ(driver_.Dispatch(control, *MakeCreate(second)), status::success);
}

TEST_F(ControlDeviceTest, AnswersOtherRequestsWithoutDoingAnything) {
    FileObject hub;
    ControlDevice& control = driver_.Control();
    for (auto major : {MajorFunction::Cleanup, MajorFunction::Read, MajorFunction::Write,
                       MajorFunction::QueryInformation, MajorFunction::SetInformation,
                       MajorFunction::FlushBuffers}) {
        auto request = MakeSimple(major, hub);
        EXPECT_EQ(driver_.Dispatch(control, *request), status::success);
        EXPECT_EQ(request->information, 0u);
    }
    auto unknown = MakeDeviceControl(hub, 0x222014, "x", 1, 1228);
    EXPECT_EQ(driver_.Dispatch(control, *unknown), status::invalidParameter);
    auto serial = MakeDeviceControl(hub, IOCTL_SERIAL_GET_BAUD_RATE, nullptr, 0, 4);
    EXPECT_EQ(driver_.Dispatch(control, *serial), status::invalidParameter);
}

TEST_F(ControlDeviceTest, ExchangeReportsEveryPort) {
    Handle& app = Open(3);
    Open(3);
    Broadcast("abc");
    DriverExchangeBlock block = Exchange();

    EXPECT_EQ(block.version, 257u);
    EXPECT_EQ(block.readOnly, 0u);
    const uint32_t comNumbers[8] = {5, 6, 0, 9, 0, 0, 0, 0};
    for (uint32_t port = 0; port < 8; ++port) {
        EXPECT_EQ(block.comNumber[port], comNumbers[port]);
        if (port != 3) {
            // Configured but not open (0, 1) or not configured at all: nothing but the number.
            EXPECT_EQ(block.openCount[port], 0u) << port;
            EXPECT_EQ(block.activity[port], 0u) << port;
        }
    }
    EXPECT_EQ(block.openCount[3], 2u);
    // No read request yet: activity 0 in the upper half, rxHead 3 in the lower.
    EXPECT_EQ(block.activity[3], 3u);

    ReadNow(app, 2);
    block = Exchange();
    EXPECT_EQ(block.activity[3], (2u << 16) | 3u) << "one read request, one completion";
    EXPECT_EQ(block.rxAvailable[3], 3u) << "available bytes computed before the read";
    EXPECT_EQ(block.clientDataLength, 0u);
}

TEST_F(ControlDeviceTest, ActivityKeepsOnlyTheLowSixteenBitsOfEachHalf) {
    Handle& app = Open(0);
    SetTimeouts(app, maxDword, 0, 0);
    usermode::SetDebugCapture(false);
    for (int i = 0; i < 0x8001; ++i) {
        Read(app, 1); // 2 activity steps each: request and completion
    }
    Broadcast(std::string(0x0ABC, 'x'));
    DriverExchangeBlock block = Exchange();
    EXPECT_EQ(block.activity[0], (0x0002u << 16) | 0x0ABCu);
}

TEST_F(ControlDeviceTest, ShortOutputBufferChangesNothing) {
    Handle& app = Open(0);
    Write(app, "pending");
    DriverExchangeBlock input{};
    input.readOnly = 1;
    FileObject hub;
    auto request = MakeDeviceControl(hub, IOCTL_TAVRO_EXCHANGE, &input, 1228, 1227);
    EXPECT_EQ(driver_.Dispatch(driver_.Control(), *request), status::invalidBufferSize);
    EXPECT_EQ(request->information, 0u);
    EXPECT_FALSE(driver_.Control().ReadOnly());
    EXPECT_EQ(Collected(Exchange()), "pending") << "the ring must be untouched";
}

TEST_F(ControlDeviceTest, ReadOnlyIsTakenOnlyFromAFullInputBlock) {
    DriverExchangeBlock input{};
    input.readOnly = 0xFFFFFFFF; // only bit 0 of byte 1092 counts
    DriverExchangeBlock block = Exchange(&input);
    EXPECT_TRUE(driver_.Control().ReadOnly());
    EXPECT_EQ(block.readOnly, 0u) << "returned as 0 even when the hub sent 1";

    Exchange(); // no input: unchanged
    EXPECT_TRUE(driver_.Control().ReadOnly());

    FileObject hub;
    auto shortInput = MakeDeviceControl(hub, IOCTL_TAVRO_EXCHANGE, &input, 1227, 1228);
    EXPECT_EQ(driver_.Dispatch(driver_.Control(), *shortInput), status::success);
    input.readOnly = 0x02; // bit 0 clear
    auto longInput = MakeDeviceControl(hub, IOCTL_TAVRO_EXCHANGE, &input, 1228, 2000);
    longInput->inputLength = 1229;
    EXPECT_EQ(driver_.Dispatch(driver_.Control(), *longInput), status::success);
    EXPECT_TRUE(driver_.Control().ReadOnly()) << "only an input of exactly 1228 bytes counts";

    Exchange(&input);
    EXPECT_FALSE(driver_.Control().ReadOnly());
}

TEST_F(ControlDeviceTest, ReadOnlyDropsWritesOfPortsOneToSeven) {
    Handle& first = Open(0);
    Handle& second = Open(1);
    Handle& fourth = Open(3);
    Write(first, "to receiver");
    Write(second, "dropped");
    Write(fourth, "dropped too");
    DriverExchangeBlock input{};
    input.readOnly = 1;
    EXPECT_EQ(Collected(Exchange(&input)), "to receiver");

    input.readOnly = 0;
    EXPECT_EQ(Collected(Exchange(&input)), "") << "dropped bytes are not kept for later";
    Write(second, "now");
    EXPECT_EQ(Collected(Exchange()), "now");
}

TEST_F(ControlDeviceTest, CollectsAtMost1024BytesPortZeroFirst) {
    Handle& first = Open(0);
    Handle& second = Open(1);
    std::string a(800, 'a');
    std::string b;
    for (int i = 0; i < 800; ++i) {
        b.push_back(static_cast<char>('0' + i % 10));
    }
    Write(first, a);
    Write(second, b);

    DriverExchangeBlock block = Exchange();
    ASSERT_EQ(block.clientDataLength, 1024u);
    EXPECT_EQ(Collected(block), a + b.substr(0, 224));
    block = Exchange();
    EXPECT_EQ(Collected(block), b.substr(224));
    EXPECT_EQ(Exchange().clientDataLength, 0u);
}

TEST_F(ControlDeviceTest, WithoutAHubTheTransmitRingKeepsTheNewestBytes) {
    Handle& app = Open(0);
    std::string longer;
    for (int i = 0; i < 4096 + 10; ++i) {
        longer.push_back(static_cast<char>(i % 251));
    }
    auto write = Write(app, longer);
    EXPECT_EQ(write->information, longer.size()) << "nothing collects: the write never waits";
    std::string collected;
    for (int i = 0; i < 4; ++i) {
        collected += Collected(Exchange());
    }
    EXPECT_TRUE(collected == longer.substr(11)) << "the newest 4095 bytes";
}

// A program that writes a command and closes at once: the next exchange still collects it.
TEST_F(ControlDeviceTest, BytesWrittenBeforeCloseAreCollected) {
    Handle& app = Open(1);
    Write(app, "$PMTK101*32\r\n");
    CloseHandle(app);
    EXPECT_EQ(Collected(Exchange()), "$PMTK101*32\r\n");
    EXPECT_EQ(Exchange().openCount[1], 0u);
}

TEST_F(ControlDeviceTest, BroadcastReachesEveryOpenHandleOnly) {
    Broadcast("before anyone");
    Handle& a = Open(0);
    Handle& b = Open(0);
    Handle& other = Open(3);
    Broadcast("$GPRMC\r\n");
    Handle& late = Open(0);
    Broadcast("xy");
    Broadcast("");

    for (Handle* handle : {&a, &b}) {
        EXPECT_EQ(Available(*handle), 10u);
        EXPECT_EQ(ReadNow(*handle, 10), "$GPRMC\r\nxy");
    }
    EXPECT_EQ(ReadNow(late, 2), "xy");
    EXPECT_EQ(Available(other), 10u);
    EXPECT_EQ(driver_.Record(1).rxHead, 0u) << "a port nobody has open receives nothing";
}

TEST_F(ControlDeviceTest, HandlesKeepTheirOwnPosition) {
    Handle& a = Open(0);
    Handle& b = Open(0);
    Broadcast("0123456789");
    EXPECT_EQ(ReadNow(a, 4), "0123");
    EXPECT_EQ(ReadNow(b, 7), "0123456");
    EXPECT_EQ(ReadNow(a, 6), "456789");
    EXPECT_EQ(Available(a), 0u);
    EXPECT_EQ(Available(b), 3u);
}

// A program too slow for the stream loses its oldest bytes, and is told so the Win32 way: the
// queue overrun in ClearCommError (once) and EV_ERR.
TEST_F(ControlDeviceTest, ASlowReaderLosesItsOldestBytesAndIsTold) {
    Handle& app = Open(0);
    Handle& fast = Open(0);
    SetWaitMask(app, SERIAL_EV_ERR | SERIAL_EV_RXFLAG);
    std::string lots;
    for (int i = 0; i < 4096 + 5; ++i) {
        lots.push_back(static_cast<char>('a' + i % 26));
    }
    auto fastRead = Read(fast, 4096 + 5);
    Broadcast(lots);
    ASSERT_TRUE(fastRead->Completed());
    EXPECT_EQ(Data(*fastRead), lots) << "a handle with a read queued loses nothing";
    auto status = Get<SERIAL_STATUS>(app, IOCTL_SERIAL_GET_COMMSTATUS);
    EXPECT_EQ(status.Errors, SERIAL_ERROR_QUEUEOVERRUN);
    EXPECT_EQ(status.AmountInInQueue, 4095u);
    EXPECT_EQ(Get<SERIAL_STATUS>(app, IOCTL_SERIAL_GET_COMMSTATUS).Errors, 0u) << "read clears it";
    auto wait = Wait(app);
    ASSERT_TRUE(wait->Completed());
    EXPECT_EQ(EventWord(*wait), SERIAL_EV_ERR);
    EXPECT_EQ(ReadNow(app, 5000), lots.substr(6)) << "the newest bytes, in order";

    SetWaitMask(app, SERIAL_EV_ERR);
    auto queued = Wait(app);
    Broadcast(std::string(4095, 'x'));
    EXPECT_FALSE(queued->Completed()) << "exactly full: nothing lost yet";
    Broadcast("y");
    EXPECT_EQ(EventWord(*queued), SERIAL_EV_ERR);
}

// Relayed, lost by a reader that fell behind (the same whether the bytes are stored one by one
// or in runs), collected for the receiver, dropped by read-only mode; counted from the hub's
// open on.
TEST_F(ControlDeviceTest, TrafficCountsWhatEachPortCarriedSinceTheHubAttached) {
    for (const bool bulk : {true, false}) {
        SCOPED_TRACE(bulk ? "stored in runs" : "stored byte by byte");
        for (uint32_t port = 0; port < virtualPortCount; ++port) {
            if (driver_.HasPort(port)) {
                driver_.Port(port).SetBulkReceive(bulk);
            }
        }
        AttachHub();
        Handle& first = Open(0);
        Handle& second = Open(1);
        Broadcast("abc");
        Broadcast(std::string(4096 + 5, 'x')); // 3 + 4101 unread, 4095 kept
        ReadNow(first, 5000);
        Write(first, "to receiver");
        Write(second, "refused");
        DriverExchangeBlock input{};
        input.readOnly = 1;
        EXPECT_EQ(Collected(Exchange(&input)), "to receiver");

        PortTrafficBlock traffic;
        ASSERT_EQ(driver_.Traffic(traffic), status::success);
        const PortTraffic expected[] = {{4104, 9, 11, 0}, {4104, 9, 0, 7}, {}, {}};
        for (uint32_t port = 0; port < 4; ++port) {
            EXPECT_EQ(traffic.ports[port].bytesRelayed, expected[port].bytesRelayed) << port;
            EXPECT_EQ(traffic.ports[port].bytesDropped, expected[port].bytesDropped) << port;
            EXPECT_EQ(traffic.ports[port].bytesWritten, expected[port].bytesWritten) << port;
            EXPECT_EQ(traffic.ports[port].bytesRefused, expected[port].bytesRefused) << port;
        }

        CloseHandle(first);
        CloseHandle(second);
        driver_.Dispatch(driver_.Control(), *MakeSimple(MajorFunction::Close, hub_));
        AttachHub();
        ASSERT_EQ(driver_.Traffic(traffic), status::success);
        EXPECT_EQ(traffic.ports[0].bytesRelayed, 0u) << "a new hub counts afresh";
        EXPECT_EQ(traffic.ports[1].bytesRefused, 0u);
        driver_.Dispatch(driver_.Control(), *MakeSimple(MajorFunction::Close, hub_));
    }
    FileObject hub;
    auto shortOutput = MakeDeviceControl(hub, IOCTL_TAVRO_TRAFFIC, nullptr, 0, 255);
    EXPECT_EQ(driver_.Dispatch(driver_.Control(), *shortOutput), status::invalidBufferSize);
}

} // namespace
} // namespace tavro::driver::testing
