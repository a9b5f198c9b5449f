// Wait-on-mask requests: which bytes complete them, the event word, the limits, completion by a
// new mask, cancellation and cleanup.
#include <string>
#include <vector>

#include "tests/driver/DriverFixture.h"

namespace tavro::driver::testing {
namespace {

using WaitQueueTest = DriverFixture;

TEST_F(WaitQueueTest, AnyByteCompletesAnRxcharWait) {
    Handle& app = Open(0);
    SetWaitMask(app, SERIAL_EV_RXCHAR | SERIAL_EV_CTS | SERIAL_EV_TXEMPTY);
    auto wait = Wait(app);
    ASSERT_FALSE(wait->Completed());
    EXPECT_EQ(driver_.Record(0).pendingWaits, 1);
    Broadcast("$");
    ASSERT_TRUE(wait->Completed());
    EXPECT_EQ(wait->status, status::success);
    EXPECT_EQ(wait->information, 4u);
    EXPECT_EQ(EventWord(*wait), SERIAL_EV_RXCHAR) << "only RXCHAR and RXFLAG are ever signalled";
    EXPECT_EQ(driver_.Record(0).pendingWaits, 0);
    EXPECT_EQ(Get<uint32_t>(app, IOCTL_SERIAL_GET_WAIT_MASK),
              SERIAL_EV_RXCHAR | SERIAL_EV_CTS | SERIAL_EV_TXEMPTY);
}

TEST_F(WaitQueueTest, AZeroByteCompletesNoWaitButIsData) {
    Handle& app = Open(0);
    SetWaitMask(app, SERIAL_EV_RXCHAR | SERIAL_EV_RXFLAG); // EventChar is 0 at open
    auto wait = Wait(app);
    Broadcast(std::string("\0\0", 2));
    EXPECT_FALSE(wait->Completed());
    EXPECT_EQ(Available(app), 2u);
    Broadcast("A");
    ASSERT_TRUE(wait->Completed());
    EXPECT_EQ(EventWord(*wait), SERIAL_EV_RXCHAR);
}

TEST_F(WaitQueueTest, RxflagCompletesOnEachLineFeed) {
    Handle& app = Open(0);
    SetChars(app, '\n', 0);
    SetWaitMask(app, SERIAL_EV_RXFLAG);
    std::vector<uint32_t> events;
    std::string lines = "$GPGGA,1*00\r\n$GPRMC,2*00\r\n$GPGSV";
    size_t sent = 0;
    for (int i = 0; i < 3; ++i) {
        auto wait = Wait(app);
        // Byte by byte, as a slow receiver would deliver them.
        while (!wait->Completed() && sent < lines.size()) {
            Broadcast(lines.substr(sent++, 1));
        }
        if (wait->Completed()) {
            events.push_back(EventWord(*wait));
            EXPECT_EQ(lines[sent - 1], '\n');
        } else {
            EXPECT_EQ(i, 2) << "the third wait has no line feed to end it";
            ASSERT_TRUE(usermode::CancelRequest(*wait));
        }
    }
    EXPECT_EQ(events, (std::vector<uint32_t>{SERIAL_EV_RXFLAG, SERIAL_EV_RXFLAG}));

    SetWaitMask(app, SERIAL_EV_RXFLAG | SERIAL_EV_RXCHAR);
    auto both = Wait(app);
    Broadcast("\n");
    EXPECT_EQ(EventWord(*both), SERIAL_EV_RXFLAG | SERIAL_EV_RXCHAR);
}

TEST_F(WaitQueueTest, BulkChunkCompletesAtTheRightByte) {
    Handle& app = Open(0);
    Handle& other = Open(0);
    SetChars(app, '*', 0);
    SetWaitMask(app, SERIAL_EV_RXFLAG);
    SetTimeouts(other, 0, 0, 0);
    auto wait = Wait(app);
    auto read = Read(other, 7);
    // One chunk: the read completes after 7 bytes, the wait on the '*'.
    Broadcast("abcdefghij*klm");
    ASSERT_TRUE(read->Completed());
    EXPECT_EQ(Data(*read), "abcdefg");
    ASSERT_TRUE(wait->Completed());
    EXPECT_EQ(EventWord(*wait), SERIAL_EV_RXFLAG);
    EXPECT_EQ(Available(other), 7u);
}

TEST_F(WaitQueueTest, EofCharSignalsRxflagAndIsRememberedUntilARead) {
    Handle& app = Open(0);
    SetChars(app, '\n', 0x1A);
    SetWaitMask(app, SERIAL_EV_RXFLAG);
    auto wait = Wait(app);
    Broadcast("x\x1A");
    ASSERT_TRUE(wait->Completed());
    EXPECT_EQ(EventWord(*wait), SERIAL_EV_RXFLAG);
    EXPECT_EQ(Get<SERIAL_STATUS>(app, IOCTL_SERIAL_GET_COMMSTATUS).EofReceived, 1);
    ReadNow(app, 1);
    EXPECT_EQ(Get<SERIAL_STATUS>(app, IOCTL_SERIAL_GET_COMMSTATUS).EofReceived, 0);

    // Without EV_RXFLAG in the mask the EofChar is just data.
    SetWaitMask(app, SERIAL_EV_CTS);
    auto quiet = Wait(app);
    Broadcast("\x1A");
    EXPECT_FALSE(quiet->Completed());
    EXPECT_EQ(Get<SERIAL_STATUS>(app, IOCTL_SERIAL_GET_COMMSTATUS).EofReceived, 0);
    ASSERT_TRUE(usermode::CancelRequest(*quiet));
}

TEST_F(WaitQueueTest, NewMaskCompletesTheQueuedWaitWithEventWordZero) {
    Handle& app = Open(0);
    SetWaitMask(app, SERIAL_EV_RXFLAG);
    auto wait = Wait(app);
    std::memset(wait->buffer.data(), 0xCC, 4);
    SetWaitMask(app, SERIAL_EV_RXCHAR);
    ASSERT_TRUE(wait->Completed());
    EXPECT_EQ(wait->status, status::success);
    EXPECT_EQ(wait->information, 4u);
    EXPECT_EQ(EventWord(*wait), 0u);
    EXPECT_EQ(driver_.Record(0).pendingWaits, 0);

    auto next = Wait(app);
    EXPECT_FALSE(next->Completed()) << "a new wait can be queued at once";
    Broadcast("z");
    EXPECT_EQ(EventWord(*next), SERIAL_EV_RXCHAR);
}

// Events that happen between two waits are not lost: the next wait ends at once with them.
// A new mask forgets them.
TEST_F(WaitQueueTest, EventsBetweenWaitsEndTheNextWaitAtOnce) {
    Handle& app = Open(0);
    SetChars(app, '\n', 0);
    SetWaitMask(app, SERIAL_EV_RXCHAR | SERIAL_EV_RXFLAG);
    auto first = Wait(app);
    Broadcast("$GPGGA\r\n"); // ends the wait at '$'; the rest goes to the history
    EXPECT_EQ(EventWord(*first), SERIAL_EV_RXCHAR);
    auto second = Wait(app);
    ASSERT_TRUE(second->Completed());
    EXPECT_EQ(EventWord(*second), SERIAL_EV_RXCHAR | SERIAL_EV_RXFLAG);
    EXPECT_FALSE(Wait(app)->Completed()) << "the history was used up";
    usermode::CancelRequest(*requests_.back());

    Broadcast("x");
    SetWaitMask(app, SERIAL_EV_RXCHAR);
    EXPECT_FALSE(Wait(app)->Completed()) << "a new mask starts with no history";
    usermode::CancelRequest(*requests_.back());
}

TEST_F(WaitQueueTest, OneWaitPerHandleAndEightPerPort) {
    std::vector<Request*> waits;
    std::vector<Handle*> apps;
    for (int i = 0; i < 8; ++i) {
        apps.push_back(&Open(0));
        waits.push_back(Wait(*apps.back())); // mask 0: queued all the same
        ASSERT_FALSE(waits.back()->Completed());
    }
    auto second = Wait(*apps[0]);
    EXPECT_EQ(second->status, status::insufficientResources);
    Handle& ninth = Open(0);
    auto overflow = Wait(ninth);
    EXPECT_EQ(overflow->status, status::insufficientResources);
    EXPECT_EQ(driver_.Record(0).pendingWaits, 8);
    Broadcast("no mask, no event");
    for (auto& wait : waits) {
        EXPECT_FALSE(wait->Completed());
    }
    auto lines = usermode::TakeDebugLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), " Tavro DC WaitOnMask INSUFF RES\n"),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), " Tavro DC WaitOnMask INSUFF RES2\n"),
              lines.end());
}

TEST_F(WaitQueueTest, CancelFreesTheHandleForANewWait) {
    Handle& app = Open(0);
    SetWaitMask(app, SERIAL_EV_RXCHAR);
    auto wait = Wait(app);
    ASSERT_TRUE(usermode::CancelRequest(*wait));
    EXPECT_EQ(wait->status, status::cancelled);
    EXPECT_EQ(wait->information, 0u);
    EXPECT_EQ(driver_.Record(0).pendingWaits, 0);
    auto again = Wait(app);
    EXPECT_FALSE(again->Completed());
    Broadcast("k");
    EXPECT_EQ(again->status, status::success);
    auto lines = usermode::TakeDebugLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), " Tavro CWR\n"), lines.end());
}

TEST_F(WaitQueueTest, CleanupCancelsTheWaitAndTheReadOfTheHandle) {
    Handle& app = Open(0);
    Handle& other = Open(0);
    auto wait = Wait(app);
    auto read = Read(app, 10);
    auto otherWait = Wait(other);
    usermode::TakeDebugLines();
    EXPECT_EQ(driver_.Cleanup(0, app.file), status::success);
    EXPECT_EQ(wait->status, status::cancelled);
    EXPECT_EQ(read->status, status::cancelled);
    EXPECT_FALSE(otherWait->Completed());
    EXPECT_EQ(usermode::Allocations().releases, usermode::Allocations().releases)
        << "the handle state is released at close, not at cleanup";
    EXPECT_EQ(Wait(app)->status, status::cancelled) << "a closing handle queues nothing";
    EXPECT_EQ(driver_.Close(0, app.file), status::success);
    EXPECT_EQ(app.file.context, nullptr);
}

} // namespace
} // namespace tavro::driver::testing
