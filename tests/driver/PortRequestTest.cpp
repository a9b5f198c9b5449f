// The serial request set of a port: stored settings, their wire layouts, length rules,
// constant answers, purge, queue-size growth, writes and the plain file requests.
#include <cstring>
#include <string>
#include <vector>

#include "tests/driver/DriverFixture.h"

namespace tavro::driver::testing {
namespace {

using PortRequestTest = DriverFixture;

std::vector<uint8_t> Bytes(const Request& request) {
    return {request.buffer.begin(), request.buffer.begin() + request.information};
}

TEST_F(PortRequestTest, NewHandleStartsWithTheDefaultSettings) {
    Handle& app = Open(0);
    EXPECT_EQ(Get<uint32_t>(app, IOCTL_SERIAL_GET_BAUD_RATE), 4800u);
    EXPECT_EQ(Get<uint32_t>(app, IOCTL_SERIAL_GET_WAIT_MASK), 0u);

    auto handFlow = Ioctl(app, IOCTL_SERIAL_GET_HANDFLOW, nullptr, 0, 16);
    EXPECT_EQ(Bytes(*handFlow),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0}));
    auto chars = Ioctl(app, IOCTL_SERIAL_GET_CHARS, nullptr, 0, 6);
    EXPECT_EQ(Bytes(*chars), (std::vector<uint8_t>{0, 0, 0xFF, 0, 0, 0}));
    auto line = Ioctl(app, IOCTL_SERIAL_GET_LINE_CONTROL, nullptr, 0, 3);
    EXPECT_EQ(Bytes(*line), (std::vector<uint8_t>{0, 0, 8}));
    auto timeouts = Ioctl(app, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, 20);
    EXPECT_EQ(Bytes(*timeouts), std::vector<uint8_t>(20, 0));
}

TEST_F(PortRequestTest, SettingsAreEchoedByteForByteAndKeptPerHandle) {
    Handle& app = Open(0);
    Handle& other = Open(0);
    struct Pair {
        uint32_t set;
        uint32_t get;
        std::vector<uint8_t> value;
    };
    const std::vector<Pair> pairs = {
        {IOCTL_SERIAL_SET_BAUD_RATE, IOCTL_SERIAL_GET_BAUD_RATE, {0x00, 0xC2, 0x01, 0x00}},
        {IOCTL_SERIAL_SET_LINE_CONTROL, IOCTL_SERIAL_GET_LINE_CONTROL, {2, 1, 7}},
        {IOCTL_SERIAL_SET_TIMEOUTS,
         IOCTL_SERIAL_GET_TIMEOUTS,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}},
        {IOCTL_SERIAL_SET_CHARS, IOCTL_SERIAL_GET_CHARS, {0x1A, 0x00, 0x7F, 0x0A, 0x11, 0x13}},
        {IOCTL_SERIAL_SET_HANDFLOW,
         IOCTL_SERIAL_GET_HANDFLOW,
         {1, 0, 0, 0, 0x40, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x10, 0, 0}},
        {IOCTL_SERIAL_SET_WAIT_MASK, IOCTL_SERIAL_GET_WAIT_MASK, {0xFF, 0x01, 0, 0}},
    };
    for (const Pair& pair : pairs) {
        // A longer input than needed is fine; only the record's bytes are taken.
        std::vector<uint8_t> input = pair.value;
        input.push_back(0xEE);
        auto set = Ioctl(app, pair.set, input.data(), static_cast<uint32_t>(input.size()));
        EXPECT_EQ(set->status, status::success) << std::hex << pair.set;
        EXPECT_EQ(set->information, 0u);
        auto get = Ioctl(app, pair.get, nullptr, 0, static_cast<uint32_t>(pair.value.size()) + 8);
        EXPECT_EQ(Bytes(*get), pair.value) << std::hex << pair.get;
    }
    EXPECT_EQ(Get<uint32_t>(other, IOCTL_SERIAL_GET_BAUD_RATE), 4800u);
    EXPECT_EQ(Get<uint32_t>(other, IOCTL_SERIAL_GET_WAIT_MASK), 0u);
}

TEST_F(PortRequestTest, ShortBuffersFailAndChangeNothing) {
    Handle& app = Open(0);
    struct Rule {
        uint32_t code;
        uint32_t input;
        uint32_t output;
    };
    // One byte short of each length rule.
    const std::vector<Rule> rules = {
        {IOCTL_SERIAL_SET_BAUD_RATE, 3, 0},
        {IOCTL_SERIAL_SET_QUEUE_SIZE, 7, 0},
        {IOCTL_SERIAL_SET_LINE_CONTROL, 2, 0},
        {IOCTL_SERIAL_SET_TIMEOUTS, 19, 0},
        {IOCTL_SERIAL_GET_TIMEOUTS, 0, 19},
        {IOCTL_SERIAL_GET_WAIT_MASK, 0, 3},
        {IOCTL_SERIAL_SET_WAIT_MASK, 3, 0},
        {IOCTL_SERIAL_WAIT_ON_MASK, 0, 3},
        {IOCTL_SERIAL_PURGE, 3, 0},
        {IOCTL_SERIAL_GET_BAUD_RATE, 0, 3},
        {IOCTL_SERIAL_GET_LINE_CONTROL, 0, 2},
        {IOCTL_SERIAL_GET_CHARS, 0, 5},
        {IOCTL_SERIAL_SET_CHARS, 5, 0},
        {IOCTL_SERIAL_GET_HANDFLOW, 0, 15},
        {IOCTL_SERIAL_SET_HANDFLOW, 15, 0},
        {IOCTL_SERIAL_GET_MODEMSTATUS, 0, 3},
        {IOCTL_SERIAL_GET_COMMSTATUS, 0, 19},
        {IOCTL_SERIAL_GET_PROPERTIES, 0, 63},
        {IOCTL_SERIAL_CONFIG_SIZE, 0, 3},
    };
    Broadcast("data");
    std::vector<uint8_t> input(64, 0x5A);
    for (const Rule& rule : rules) {
        auto request = Ioctl(app, rule.code, input.data(), rule.input, rule.output);
        EXPECT_EQ(request->status, status::bufferTooSmall) << std::hex << rule.code;
        EXPECT_EQ(request->information, 0u);
    }
    EXPECT_EQ(Get<uint32_t>(app, IOCTL_SERIAL_GET_BAUD_RATE), 4800u);
    auto chars = Ioctl(app, IOCTL_SERIAL_GET_CHARS, nullptr, 0, 6);
    EXPECT_EQ(Bytes(*chars), (std::vector<uint8_t>{0, 0, 0xFF, 0, 0, 0}));
    EXPECT_EQ(Available(app), 4u) << "a short purge drops nothing";
    EXPECT_EQ(driver_.Record(0).rxSize, 4096u);
    EXPECT_EQ(driver_.Record(0).pendingWaits, 0);

    auto lines = usermode::TakeDebugLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), " Tavro DC setchars error\n"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), " Tavro DC SetWiatMask Error too small\n"),
              lines.end());
}

TEST_F(PortRequestTest, PropertiesAreTheFixedRecord) {
    Handle& app = Open(0);
    Broadcast("12345");
    auto request = Ioctl(app, IOCTL_SERIAL_GET_PROPERTIES, nullptr, 0, 100);
    ASSERT_EQ(request->status, status::success);
    EXPECT_EQ(request->information, 64u);
    const std::vector<uint8_t> expected = {
        64,   0,    1,    0,    // PacketLength, PacketVersion
        0,    0,    0,    0,    // ServiceMask
        0,    0,    0,    0,    // Reserved1
        0x00, 0x01, 0,    0,    // MaxTxQueue 256
        0x00, 0x40, 0,    0,    // MaxRxQueue 16384
        0,    0,    0,    0x10, // MaxBaud BAUD_USER: any rate
        1,    0,    0,    0,    // ProvSubType RS-232
        0xFB, 0x01, 0,    0,    // ProvCapabilities
        0x3F, 0,    0,    0,    // SettableParams
        0x00, 0xFA, 0x07, 0,    // SettableBaud
        0x0C, 0,    0x07, 0x1F, // SettableData, SettableStopParity
        0,    0x10, 0,    0,    // CurrentTxQueue: 4096
        0,    0x10, 0,    0,    // CurrentRxQueue: 4096, the ring's size
        0,    0,    0,    0,    // ProvSpec1
        0,    0,    0,    0,    // ProvSpec2
        0,    0,    0,    0,    // ProvChar and padding
    };
    EXPECT_EQ(Bytes(*request), expected);
}

TEST_F(PortRequestTest, ModemStatusConfigSizeAndCommStatus) {
    Handle& app = Open(0);
    EXPECT_EQ(Get<uint32_t>(app, IOCTL_SERIAL_GET_MODEMSTATUS), 0x30u)
        << "CTS, DSR on; no DCD; no change bits";
    EXPECT_EQ(Get<uint32_t>(app, IOCTL_SERIAL_CONFIG_SIZE), 0u);

    Broadcast("abc");
    auto request = Ioctl(app, IOCTL_SERIAL_GET_COMMSTATUS, nullptr, 0, 20);
    EXPECT_EQ(Bytes(*request),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(driver_.Record(0).rxAvailable, 3u);
}

TEST_F(PortRequestTest, LineSignalCodesSucceedAndUnsupportedCodesDoNot) {
    Handle& app = Open(0);
    for (uint32_t code :
         {IOCTL_SERIAL_SET_BREAK_ON, IOCTL_SERIAL_SET_BREAK_OFF, IOCTL_SERIAL_SET_DTR,
          IOCTL_SERIAL_CLR_DTR, IOCTL_SERIAL_RESET_DEVICE, IOCTL_SERIAL_SET_RTS,
          IOCTL_SERIAL_CLR_RTS, IOCTL_SERIAL_SET_XOFF, IOCTL_SERIAL_SET_XON}) {
        auto request = Ioctl(app, code);
        EXPECT_EQ(request->status, status::success) << std::hex << code;
        EXPECT_EQ(request->information, 0u);
    }
    for (uint32_t code :
         {IOCTL_SERIAL_IMMEDIATE_CHAR, IOCTL_SERIAL_XOFF_COUNTER, IOCTL_SERIAL_GET_DTRRTS,
          IOCTL_SERIAL_LSRMST_INSERT, IOCTL_SERIAL_GET_COMMCONFIG, IOCTL_SERIAL_SET_COMMCONFIG,
          IOCTL_SERIAL_GET_STATS, IOCTL_SERIAL_CLEAR_STATS, IOCTL_SERIAL_GET_MODEM_CONTROL,
          IOCTL_SERIAL_SET_MODEM_CONTROL, IOCTL_SERIAL_SET_FIFO_CONTROL, 0x1B0000u, 0x222008u}) {
        uint8_t buffer[64] = {};
        auto request = Ioctl(app, code, buffer, sizeof buffer, sizeof buffer);
        EXPECT_EQ(request->status, status::notSupported) << std::hex << code;
    }
}

TEST_F(PortRequestTest, PurgeDropsOnlyTheCallersInput) {
    Handle& a = Open(0);
    Handle& b = Open(0);
    Broadcast("abcdef");
    auto queued = Read(b, 100); // time-outs 0: queued
    ASSERT_FALSE(queued->Completed());

    for (uint32_t bits : {SERIAL_PURGE_TXABORT, SERIAL_PURGE_RXABORT, SERIAL_PURGE_TXCLEAR}) {
        EXPECT_EQ(Set(a, IOCTL_SERIAL_PURGE, bits), status::success);
        EXPECT_EQ(Available(a), 6u) << bits;
    }
    EXPECT_EQ(Set(a, IOCTL_SERIAL_PURGE, SERIAL_PURGE_RXCLEAR | SERIAL_PURGE_RXABORT),
              status::success);
    EXPECT_EQ(Available(a), 0u);
    EXPECT_EQ(Available(b), 6u);
    EXPECT_FALSE(queued->Completed()) << "another handle's read stays queued";
    Broadcast("g");
    EXPECT_EQ(ReadNow(a, 10), "g");
}

TEST_F(PortRequestTest, QueueSizeZeroChangesNothing) {
    Handle& app = Open(0);
    Broadcast("keep");
    EXPECT_EQ(Set(app, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{0, 4096}), status::success);
    EXPECT_EQ(driver_.Record(0).rxSize, 4096u);
    EXPECT_EQ(Available(app), 4u);
    // 0xFFFFF000 + 4096 wraps to 0 in 32 bits: no growth either.
    EXPECT_EQ(Set(app, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{0xFFFFF000u, 0}),
              status::success);
    EXPECT_EQ(driver_.Record(0).rxSize, 4096u);
}

TEST_F(PortRequestTest, QueueSizeGrowthMovesEveryHandleToTheNewRing) {
    Handle& caller = Open(0);
    Handle& other = Open(0);
    Handle& elsewhere = Open(1);
    Broadcast("stale bytes");
    auto queued = Read(other, 12);
    ASSERT_FALSE(queued->Completed());

    EXPECT_EQ(Set(caller, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{1, 0}), status::success);
    EXPECT_EQ(driver_.Record(0).rxSize, 4097u);
    EXPECT_EQ(driver_.Record(0).rxHead, 0u);
    EXPECT_EQ(Available(caller), 0u);
    EXPECT_EQ(Available(other), 0u) << "the other handle must not read the old ring's bytes";
    EXPECT_EQ(Available(elsewhere), 11u) << "other ports keep their ring";

    Broadcast("fresh bytes!");
    ASSERT_TRUE(queued->Completed());
    EXPECT_EQ(Data(*queued), "fresh bytes!");
    EXPECT_EQ(ReadNow(caller, 100), "fresh bytes!");

    // Same or smaller: nothing changes, nothing is dropped.
    Broadcast("!");
    EXPECT_EQ(Set(other, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{1, 0}), status::success);
    EXPECT_EQ(driver_.Record(0).rxSize, 4097u);
    EXPECT_EQ(ReadNow(caller, 100), "!");

    // The bigger ring really holds 4096 bytes for one reader.
    std::string many(4096, 'm');
    Broadcast(many);
    EXPECT_EQ(Available(caller), 4096u);
}

TEST_F(PortRequestTest, FailedGrowthKeepsTheOldRing) {
    Handle& app = Open(0);
    Broadcast("still here");
    usermode::FailNextAllocations(1);
    EXPECT_EQ(Set(app, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{8192, 0}),
              status::memoryNotAllocated);
    EXPECT_EQ(driver_.Record(0).rxSize, 4096u);
    EXPECT_EQ(ReadNow(app, 100), "still here");
    Broadcast("more");
    EXPECT_EQ(ReadNow(app, 100), "more");
}

TEST_F(PortRequestTest, HugeQueueSizeIsCapped) {
    Handle& app = Open(0);
    EXPECT_EQ(Set(app, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{0x7FFFFFFFu, 0}),
              status::success);
    EXPECT_EQ(driver_.Record(0).rxSize, PortDevice::maxRxRingSize);
}

TEST_F(PortRequestTest, WritesReturnTheirFullLength) {
    Handle& app = Open(0);
    auto write = Write(app, "0123456789");
    EXPECT_EQ(write->status, status::success);
    EXPECT_EQ(write->information, 10u);
    auto empty = Write(app, "");
    EXPECT_EQ(empty->status, status::success);
    EXPECT_EQ(empty->information, 0u);
    auto lines = usermode::TakeDebugLines();
    EXPECT_EQ(lines[lines.size() - 2], " Tavro write 10\n");
}

TEST_F(PortRequestTest, FileInformationRequests) {
    Handle& app = Open(0);
    auto standard = Send(app, MakeInformation(MajorFunction::QueryInformation, app.file,
                                              fileStandardInformation, 24));
    EXPECT_EQ(standard->status, status::success);
    EXPECT_EQ(Bytes(*standard), std::vector<uint8_t>(24, 0));
    auto position = Send(app, MakeInformation(MajorFunction::QueryInformation, app.file,
                                              filePositionInformation, 8));
    EXPECT_EQ(position->status, status::success);
    EXPECT_EQ(position->information, 8u);
    auto shortBuffer = Send(app, MakeInformation(MajorFunction::QueryInformation, app.file,
                                                 fileStandardInformation, 23));
    EXPECT_EQ(shortBuffer->status, status::bufferTooSmall);
    auto other = Send(app, MakeInformation(MajorFunction::QueryInformation, app.file, 4, 64));
    EXPECT_EQ(other->status, status::invalidParameter);

    for (uint32_t informationClass : {fileAllocationInformation, fileEndOfFileInformation}) {
        auto set = Send(
            app, MakeInformation(MajorFunction::SetInformation, app.file, informationClass, 8));
        EXPECT_EQ(set->status, status::success);
    }
    auto setOther = Send(app, MakeInformation(MajorFunction::SetInformation, app.file, 4, 8));
    EXPECT_EQ(setOther->status, status::invalidParameter);
    EXPECT_EQ(Send(app, MakeSimple(MajorFunction::FlushBuffers, app.file))->status,
              status::success);
    // A major function the port does not serve.
    auto pipe = std::make_unique<Request>(static_cast<MajorFunction>(1), &app.file);
    EXPECT_EQ(Send(app, std::move(pipe))->status, status::notImplemented);
}

TEST_F(PortRequestTest, OpenWithoutMemoryFails) {
    FileObject file;
    usermode::FailNextAllocations(1);
    EXPECT_EQ(driver_.Open(0, file), status::insufficientResources);
    EXPECT_EQ(file.context, nullptr);
    EXPECT_EQ(driver_.Record(0).openCount, 0);
}

TEST_F(PortRequestTest, RequestsWithoutHandleStateAreRefused) {
    FileObject unopened;
    auto read = MakeRead(unopened, 4);
    EXPECT_EQ(driver_.Dispatch(driver_.Port(0), *read), status::invalidDeviceRequest);
    auto control = MakeDeviceControl(unopened, IOCTL_SERIAL_GET_BAUD_RATE, nullptr, 0, 4);
    EXPECT_EQ(driver_.Dispatch(driver_.Port(0), *control), status::invalidDeviceRequest);
    EXPECT_EQ(driver_.Cleanup(0, unopened), status::success);
    EXPECT_EQ(driver_.Close(0, unopened), status::success);
    EXPECT_EQ(driver_.Record(0).openCount, 0);
}

TEST_F(PortRequestTest, OpenAndCloseMoveTheOpenCountAndPrintTheirLines) {
    FileObject file;
    auto create = MakeCreate(file, 0xFF000123);
    EXPECT_EQ(driver_.Dispatch(driver_.Port(3), *create), status::success);
    EXPECT_EQ(driver_.Record(3).openCount, 1);
    EXPECT_EQ(driver_.Cleanup(3, file), status::success);
    EXPECT_EQ(driver_.Record(3).openCount, 1) << "cleanup leaves the count to close";
    EXPECT_EQ(driver_.Close(3, file), status::success);
    EXPECT_EQ(driver_.Record(3).openCount, 0);
    EXPECT_EQ(
        usermode::TakeDebugLines(),
        (std::vector<std::string>{" Tavro create 123\n", " Tavro cleanup\n", " Tavro close\n"}));
    auto counts = usermode::Allocations();
    EXPECT_EQ(counts.allocations - counts.releases, 2u * 3u) << "only the three ports' rings";
}

TEST_F(PortRequestTest, SettingsPrintTheirLines) {
    Handle& app = Open(0);
    usermode::TakeDebugLines();
    Set(app, IOCTL_SERIAL_SET_BAUD_RATE, uint32_t{9600});
    Set(app, IOCTL_SERIAL_SET_TIMEOUTS, SERIAL_TIMEOUTS{maxDword, 0, 0, 0, 0});
    Set(app, IOCTL_SERIAL_SET_CHARS, SERIAL_CHARS{0x1A, 0x3F, 0, 0x0A, 0x11, 0x13});
    Set(app, IOCTL_SERIAL_SET_LINE_CONTROL, SERIAL_LINE_CONTROL{0, 0, 7});
    Set(app, IOCTL_SERIAL_SET_HANDFLOW, SERIAL_HANDFLOW{1, 0x80000000u, 0x800, 0x200});
    Set(app, IOCTL_SERIAL_SET_WAIT_MASK, uint32_t{0x1FD});
    Set(app, IOCTL_SERIAL_PURGE, uint32_t{0xF});
    Set(app, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{0, 0});
    EXPECT_EQ(
        usermode::TakeDebugLines(),
        (std::vector<std::string>{" Tavro DC setbaud 9600\n", " Tavro DC set Timeout -1 0 0\n",
                                  " Tavro DC setchars A 1A 3F 11\n", " Tavro DC setLineControl 7\n",
                                  " Tavro DC SetHandFlow 1 800\n", " Tavro DC SetWaitMask 1FD\n",
                                  " Tavro DC purge f\n", " Tavro SetQueueSize 0\n"}));
}

} // namespace
} // namespace tavro::driver::testing
