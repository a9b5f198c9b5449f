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

TEST_F(ReadQueueTest, DataAlreadyWaitingIsPickedUpByTheNextHubCall) {
    Handle& app = Open(0);
    Broadcast("hello");
    auto read = Read(app, 5);
    EXPECT_FALSE(read->Completed()) << "only the immediate settings complete without a check";
    Exchange();
    ASSERT_TRUE(read->Completed());
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

TEST_F(ReadQueueTest, TotalTimeoutProductIsTruncatedTo32Bits) {
    Handle& app = Open(0);
    // 2 × 0x80000000 truncates to 0, and RC = 0: no total time-out at all.
    SetTimeouts(app, 0, 0x80000000u, 0);
    auto never = Read(app, 2);
    AdvanceMilliseconds(0x100000000ull);
    Exchange();
    EXPECT_FALSE(never->Completed());
    CloseHandle(app);
    EXPECT_EQ(never->status, status::cancelled);

    // 3 × 0x80000000 truncates to 0x80000000; the sum with RC does not wrap in 64 bits.
    Handle& other = Open(0);
    SetTimeouts(other, 0, 0x80000000u, 0xFFFFFFF0u);
    auto read = Read(other, 3);
    AdvanceMilliseconds(0x80000000ull + 0xFFFFFFF0ull - 1);
    Exchange();
    EXPECT_FALSE(read->Completed());
    AdvanceMilliseconds(1);
    Exchange();
    EXPECT_TRUE(read->Completed());
}

TEST_F(ReadQueueTest, AByteAfterALongGapEndsAnIntervalRead) {
    Handle& app = Open(0);
    SetTimeouts(app, 50, 0, 0);
    auto read = Read(app, 100);
    Exchange();
    EXPECT_FALSE(read->Completed()) << "nothing available: the interval does not apply";
    // No byte has arrived for this handle yet, so the first one ends a gap of at least RI.
    Broadcast("ab");
    ASSERT_TRUE(read->Completed());
    EXPECT_EQ(Data(*read), "a");
}

TEST_F(ReadQueueTest, IntervalTimeoutCountsFromTheLastByteWhileQueued) {
    Handle& app = Open(0);
    SetTimeouts(app, 50, 0, 0);
    auto first = Read(app, 100);
    Broadcast("ab");
    ASSERT_EQ(Data(*first), "a");
    auto read = Read(app, 100);
    Exchange();
    EXPECT_FALSE(read->Completed());
    AdvanceMilliseconds(30);
    Broadcast("c");
    EXPECT_FALSE(read->Completed()) << "30 ms since the last byte";
    AdvanceMilliseconds(49);
    Exchange();
    EXPECT_FALSE(read->Completed()) << "49 ms since the last byte";
    AdvanceMilliseconds(1);
    Exchange();
    ASSERT_TRUE(read->Completed());
    EXPECT_EQ(Data(*read), "bc");
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

TEST_F(ReadQueueTest, SeveralReadsOfOneHandleGetTheDataInOrderAndAllAreCancelled) {
    Handle& app = Open(0);
    auto first = Read(app, 3);
    auto second = Read(app, 3);
    auto third = Read(app, 50);
    Handle& other = Open(0);
    auto others = Read(other, 50);
    // Free slot 0 and queue again: arrival order, not slot order, decides who gets data first.
    ASSERT_TRUE(usermode::CancelRequest(*first));
    auto fourth = Read(app, 3);
    Broadcast("abcdef");
    ASSERT_TRUE(second->Completed());
    EXPECT_EQ(Data(*second), "abc");
    ASSERT_TRUE(fourth->Completed());
    EXPECT_EQ(Data(*fourth), "def");

    EXPECT_EQ(driver_.Record(0).pendingReads, 2);
    EXPECT_EQ(driver_.Cleanup(0, app.file), status::success);
    ASSERT_TRUE(third->Completed()) << "every queued read of the handle, not only the last";
    EXPECT_EQ(third->status, status::cancelled);
    EXPECT_FALSE(others->Completed()) << "another handle's read stays";
    auto afterCleanup = Read(app, 1);
    EXPECT_EQ(afterCleanup->status, status::cancelled) << "a closing handle queues nothing";
    EXPECT_EQ(driver_.Close(0, app.file), status::success);
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

TEST_F(ReadQueueTest, WithoutTheHubAQueuedReadEndsOnlyByClosing) {
    Handle& app = Open(0);
    SetTimeouts(app, 0, 0, 100);
    auto read = Read(app, 10);
    AdvanceMilliseconds(10'000);
    EXPECT_FALSE(read->Completed()) << "time-outs are only detected by hub calls";
    CloseHandle(app);
    ASSERT_TRUE(read->Completed());
    EXPECT_EQ(read->status, status::cancelled);
    EXPECT_EQ(read->information, 0u);
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
