// Reads: what completes at once, what is queued, each time-out rule and when the hub's calls
// detect it, the slot limit, several reads of one handle, cancellation and cleanup.
#include <string>
#include <vector>

#include "tests/driver/DriverFixture.h"

namespace tavro::driver::testing {
namespace {

using ReadQueueTest = DriverFixture;
using usermode::AdvanceMilliseconds;

TEST_F(ReadQueueTest, ZeroTimeoutsWaitForTheFullLength) {
    Handle& app = Open(0);
    auto read = Read(app, 10);
    EXPECT_EQ(read->status, 0) << "not completed";
    EXPECT_FALSE(read->Completed());
    EXPECT_EQ(driver_.Record(0).pendingReads, 1);
    Broadcast("123456789");
    AdvanceMilliseconds(1'000'000);
    Exchange();
    EXPECT_FALSE(read->Completed()) << "no time-out with all values 0";
    Broadcast("0ab");
    ASSERT_TRUE(read->Completed());
    EXPECT_EQ(read->status, status::success);
    EXPECT_EQ(Data(*read), "1234567890");
    EXPECT_EQ(Available(app), 2u);
    EXPECT_EQ(driver_.Record(0).pendingReads, 0);
}

TEST_F(ReadQueueTest, DataAlreadyWaitingCompletesAReadAtOnce) {
    Handle& app = Open(0);
    Broadcast("hello!");
    auto read = Read(app, 5);
    ASSERT_TRUE(read->Completed()) << "no hub call needed for a read that can be satisfied";
    EXPECT_EQ(Data(*read), "hello");
}

TEST_F(ReadQueueTest, IntervalMaxdwordReturnsAtOnceEvenWithNothing) {
    Handle& app = Open(0);
    SetTimeouts(app, maxDword, 0, 0);
    auto empty = Read(app, 10);
    ASSERT_TRUE(empty->Completed());
    EXPECT_EQ(empty->status, status::success);
    EXPECT_EQ(empty->information, 0u);
    Broadcast("abc");
    auto some = Read(app, 10);
    EXPECT_EQ(Data(*some), "abc");
    EXPECT_EQ(usermode::TakeDebugLines().back(), " Tavro CompleteRead return 3 bytes\n");
}

TEST_F(ReadQueueTest, FirstByteOrConstantTimeout) {
    Handle& app = Open(0);
    SetTimeouts(app, maxDword, maxDword, 1000);

    Broadcast("w");
    auto waiting = Read(app, 50);
    ASSERT_TRUE(waiting->Completed()) << "a byte is waiting: at once";
    EXPECT_EQ(Data(*waiting), "w");

    auto first = Read(app, 50);
    ASSERT_FALSE(first->Completed());
    Broadcast("xyz");
    ASSERT_TRUE(first->Completed()) << "completes with the first byte of the chunk";
    EXPECT_EQ(Data(*first), "x");
    EXPECT_EQ(ReadNow(app, 50), "yz");

    SetTimeouts(app, maxDword, maxDword, 1000);
    auto timed = Read(app, 50);
    AdvanceMilliseconds(999);
    Exchange();
    EXPECT_FALSE(timed->Completed());
    AdvanceMilliseconds(1);
    Exchange();
    ASSERT_TRUE(timed->Completed()) << "exactly the limit counts as expired";
    EXPECT_EQ(timed->information, 0u);
}

TEST_F(ReadQueueTest, TotalTimeoutIsLengthTimesMultiplierPlusConstant) {
    Handle& app = Open(0);
    SetTimeouts(app, 0, 10, 100); // 5 bytes: 150 ms
    auto read = Read(app, 5);
    Broadcast("ab");
    AdvanceMilliseconds(149);
    Exchange();
    EXPECT_FALSE(read->Completed());
    AdvanceMilliseconds(1);
    Exchange();
    ASSERT_TRUE(read->Completed());
    EXPECT_EQ(Data(*read), "ab");
}

TEST_F(ReadQueueTest, TotalTimeoutIsComputedIn64Bits) {
    struct Case {
        uint32_t length, multiplier, constant;
        uint64_t total;
    };
    for (const Case& c : {Case{2, 0x80000000u, 0, 0x100000000ull},
                          Case{3, 0x80000000u, 0xFFFFFFF0u, 0x180000000ull + 0xFFFFFFF0ull},
                          Case{0xFFFF, 0xFFFFFFFFu, 7, 0xFFFFull * 0xFFFFFFFFull + 7}}) {
        Handle& app = Open(0);
        SetTimeouts(app, 0, c.multiplier, c.constant);
        auto read = Read(app, c.length);
        AdvanceMilliseconds(c.total - 1);
        EXPECT_FALSE(read->Completed()) << c.total;
        AdvanceMilliseconds(1);
        EXPECT_TRUE(read->Completed()) << c.total;
        CloseHandle(app);
    }
}

// Boost.Asio's setting (1, 0, 0) and a receiver that sends a sentence a second: the read
// returns the whole sentence, not the first byte after the quiet second.
TEST_F(ReadQueueTest, IntervalTimeoutRunsFromTheLastByteOfThisRead) {
    Handle& app = Open(0);
    SetTimeouts(app, 20, 0, 0);
    Broadcast("$GPRMC,1*00\r\n");
    auto previous = Read(app, 100);
    EXPECT_FALSE(previous->Completed()) << "bytes waiting start the interval";
    AdvanceMilliseconds(20);
    ASSERT_TRUE(previous->Completed());
    EXPECT_EQ(Data(*previous), "$GPRMC,1*00\r\n");

    AdvanceMilliseconds(1000);
    auto read = Read(app, 100);
    Broadcast("$GPGGA,");
    AdvanceMilliseconds(15);
    Broadcast("2*00\r\n");
    AdvanceMilliseconds(19);
    EXPECT_FALSE(read->Completed()) << "19 ms since the last byte";
    AdvanceMilliseconds(1);
    ASSERT_TRUE(read->Completed()) << "no hub call needed";
    EXPECT_EQ(Data(*read), "$GPGGA,2*00\r\n");
}

TEST_F(ReadQueueTest, ConstantMaxdwordMinusOneReturnsAtOnceOnlyWithData) {
    Handle& app = Open(0);
    SetTimeouts(app, 0, 0, maxDword - 1);
    Broadcast("q");
    auto now = Read(app, 10);
    ASSERT_TRUE(now->Completed());
    EXPECT_EQ(Data(*now), "q");

    auto queued = Read(app, 3);
    EXPECT_FALSE(queued->Completed());
    Broadcast("rst");
    ASSERT_TRUE(queued->Completed()) << "then the ordinary rules: here the length";
    EXPECT_EQ(Data(*queued), "rst");
}

TEST_F(ReadQueueTest, ZeroLengthReadsCompleteAtOnce) {
    Handle& app = Open(0);
    auto read = Read(app, 0);
    ASSERT_TRUE(read->Completed());
    EXPECT_EQ(read->status, status::success);
    EXPECT_EQ(read->information, 0u);
}

TEST_F(ReadQueueTest, TheNinthQueuedReadOfAPortIsRefused) {
    std::vector<Request*> reads;
    std::vector<Handle*> apps;
    for (int i = 0; i < 8; ++i) {
        apps.push_back(&Open(0));
        reads.push_back(Read(*apps.back(), 10));
        ASSERT_FALSE(reads.back()->Completed());
    }
    EXPECT_EQ(driver_.Record(0).pendingReads, 8);
    auto ninth = Read(*apps[3], 10);
    ASSERT_TRUE(ninth->Completed());
    EXPECT_EQ(ninth->status, status::insufficientResources);
    EXPECT_EQ(ninth->information, 0u);
    Handle& otherPort = Open(1);
    EXPECT_FALSE(Read(otherPort, 1)->Completed()) << "the limit is per port";
    EXPECT_EQ(driver_.Record(0).pendingReads, 8);
}

TEST_F(ReadQueueTest, ReadsOfOneHandleTakeItsBytesInTheOrderTheyCame) {
    Handle& app = Open(0);
    auto first = Read(app, 3);
    auto second = Read(app, 3);
    auto third = Read(app, 50);
    SetTimeouts(app, maxDword, 0, 0);
    auto fourth = Read(app, 3); // would return at once, but waits for its turn
    Handle& other = Open(0);
    auto others = Read(other, 50);
    ASSERT_TRUE(usermode::CancelRequest(*first));
    Broadcast("abcdef");
    ASSERT_TRUE(second->Completed());
    EXPECT_EQ(Data(*second), "abc");
    EXPECT_FALSE(third->Completed()) << "holds \"def\" and wants 50";
    EXPECT_FALSE(fourth->Completed());
    ASSERT_TRUE(usermode::CancelRequest(*third));
    ASSERT_TRUE(fourth->Completed()) << "its turn: it returns at once with what is there";
    EXPECT_EQ(Data(*fourth), "def");

    auto fifth = Read(app, 1);
    EXPECT_EQ(fifth->status, status::success) << "returned at once (nothing waiting)";
    EXPECT_EQ(driver_.Cleanup(0, app.file), status::success);
    EXPECT_FALSE(others->Completed()) << "another handle's read stays";
    SetTimeouts(app, 0, 0, 0);
    EXPECT_EQ(Read(app, 1)->status, status::cancelled) << "a closing handle queues nothing";
    EXPECT_EQ(driver_.Close(0, app.file), status::success);
}

// A read of at least the ring's size with all time-outs 0 still completes: once the bytes
// waiting fill the handle's share of the ring, the read takes them into its own buffer.
TEST_F(ReadQueueTest, AReadLargerThanTheRingCompletes) {
    Handle& app = Open(0);
    std::string stream;
    for (int i = 0; i < 10000; ++i) {
        stream.push_back(static_cast<char>('A' + i % 26));
    }
    auto read = Read(app, 9000);
    for (size_t offset = 0; offset < stream.size(); offset += 510) {
        Broadcast(stream.substr(offset, 510));
    }
    ASSERT_TRUE(read->Completed());
    EXPECT_EQ(Data(*read), stream.substr(0, 9000));
    EXPECT_EQ(ReadNow(app, 2000), stream.substr(9000)) << "nothing lost, nothing reported";
    EXPECT_EQ(Get<SERIAL_STATUS>(app, IOCTL_SERIAL_GET_COMMSTATUS).Errors, 0u);
}

TEST_F(ReadQueueTest, CancelCompletesTheReadOnce) {
    Handle& app = Open(0);
    auto read = Read(app, 10);
    Broadcast("ab");
    ASSERT_TRUE(usermode::CancelRequest(*read));
    EXPECT_EQ(read->status, status::cancelled);
    EXPECT_EQ(read->information, 0u);
    EXPECT_EQ(driver_.Record(0).pendingReads, 0);
    EXPECT_FALSE(usermode::CancelRequest(*read)) << "nothing left to cancel";
    EXPECT_EQ(ReadNow(app, 10), "ab") << "a cancelled read takes no data";
    auto lines = usermode::TakeDebugLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), " Tavro CRR\n"), lines.end());
}

TEST_F(ReadQueueTest, ARequestCancelledBeforeItIsQueuedEndsAtOnce) {
    Handle& app = Open(0);
    auto read = MakeRead(app.file, 10);
    usermode::CancelRequest(*read); // sets the flag; no routine yet
    EXPECT_EQ(driver_.Dispatch(driver_.Port(0), *read), status::cancelled);
    EXPECT_EQ(driver_.Record(0).pendingReads, 0);
}

// The time-out thread ends reads on time with no broadcast or exchange at all.
TEST_F(ReadQueueTest, TimeoutsExpireWithoutHubCalls) {
    struct Case {
        uint32_t interval, multiplier, constant, length;
        uint64_t limit;
    };
    for (const Case& c : {Case{0, 0, 100, 10, 100}, Case{maxDword, maxDword, 1000, 10, 1000},
                          Case{0, 10, 5, 10, 105}}) {
        Handle& app = Open(0);
        SetTimeouts(app, c.interval, c.multiplier, c.constant);
        auto read = Read(app, c.length);
        AdvanceMilliseconds(c.limit - 1);
        EXPECT_FALSE(read->Completed()) << c.limit;
        AdvanceMilliseconds(1);
        ASSERT_TRUE(read->Completed()) << c.limit;
        EXPECT_EQ(read->status, status::success);
        EXPECT_EQ(read->information, 0u);
        CloseHandle(app);
    }
}

TEST_F(ReadQueueTest, PurgeRxabortCancelsOnlyTheCallersReadsAndWait) {
    Handle& app = Open(0);
    Handle& other = Open(0);
    auto mine = Read(app, 10);
    auto myWait = Wait(app);
    auto theirs = Read(other, 10);
    auto theirWait = Wait(other);
    EXPECT_EQ(Set(app, IOCTL_SERIAL_PURGE, SERIAL_PURGE_RXABORT), status::success);
    ASSERT_TRUE(mine->Completed());
    EXPECT_EQ(mine->status, status::cancelled);
    EXPECT_EQ(myWait->status, status::cancelled);
    EXPECT_FALSE(theirs->Completed());
    EXPECT_FALSE(theirWait->Completed());
    Broadcast("0123456789");
    EXPECT_EQ(Data(*theirs), "0123456789");
}

TEST_F(ReadQueueTest, ReadActivityCountsRequestsCompletionsAndReleases) {
    Handle& app = Open(0);
    auto queued = Read(app, 2); // +1
    EXPECT_EQ(driver_.Record(0).readActivity, 1u);
    Broadcast("xy"); // released by the check +1, completed +1
    ASSERT_TRUE(queued->Completed());
    EXPECT_EQ(driver_.Record(0).readActivity, 3u);
    ReadNow(app, 1); // +1 request, +1 completion
    EXPECT_EQ(driver_.Record(0).readActivity, 5u);
}

TEST_F(ReadQueueTest, DebugLinesOfAQueuedRead) {
    Handle& app = Open(0);
    SetTimeouts(app, maxDword, maxDword, 500);
    usermode::TakeDebugLines();
    Request* read = Read(app, 4);
    Broadcast("z");
    EXPECT_TRUE(read->Completed());
    EXPECT_EQ(usermode::TakeDebugLines(),
              (std::vector<std::string>{" Tavro read 4\n", " Tavro read pending\n",
                                        " Tavro completeRead C3\n", " Tavro completeRead bSend\n",
                                        " Tavro Start complete read\n",
                                        " Tavro CompleteRead return 1 bytes\n"}));
}

} // namespace
} // namespace tavro::driver::testing
