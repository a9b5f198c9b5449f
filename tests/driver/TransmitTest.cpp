// The transmit side with a hub attached: writes that wait for room, flushes that wait for the
// hub to collect, EV_TXEMPTY, the transmit purges and the bytes still waiting.
#include <string>

#include "tests/driver/DriverFixture.h"

namespace tavro::driver::testing {
namespace {

class TransmitTest : public DriverFixture {
protected:
    TransmitTest() { AttachHub(); }

    Request* Flush(Handle& handle) {
        return Send(handle, MakeSimple(MajorFunction::FlushBuffers, handle.file));
    }

    std::string CollectAll() {
        std::string bytes;
        for (std::string chunk = Collected(Exchange()); !chunk.empty();
             chunk = Collected(Exchange())) {
            bytes += chunk;
        }
        return bytes;
    }

    uint32_t Outgoing(Handle& handle) {
        return Get<SERIAL_STATUS>(handle, IOCTL_SERIAL_GET_COMMSTATUS).AmountInOutQueue;
    }

    static std::string Pattern(size_t length) {
        std::string bytes;
        for (size_t i = 0; i < length; ++i) {
            bytes.push_back(static_cast<char>(i * 7 % 251));
        }
        return bytes;
    }
};

TEST_F(TransmitTest, FlushCompletesOnceTheHubHasCollectedTheBytes) {
    Handle& app = Open(0);
    EXPECT_TRUE(Flush(app)->Completed()) << "nothing written: at once";
    Write(app, "$PMTK101*32\r\n");
    auto flush = Flush(app);
    EXPECT_FALSE(flush->Completed());
    EXPECT_EQ(Outgoing(app), 13u);
    EXPECT_EQ(Collected(Exchange()), "$PMTK101*32\r\n");
    ASSERT_TRUE(flush->Completed());
    EXPECT_EQ(flush->status, status::success);
    EXPECT_EQ(Outgoing(app), 0u);

    Write(app, "x");
    auto cancelled = Flush(app);
    ASSERT_TRUE(usermode::CancelRequest(*cancelled));
    EXPECT_EQ(cancelled->status, status::cancelled);
    auto closing = Flush(app);
    CloseHandle(app);
    EXPECT_EQ(closing->status, status::cancelled) << "ended at cleanup";
    EXPECT_EQ(Collected(Exchange()), "x") << "the bytes still go out";
}

TEST_F(TransmitTest, WritesLargerThanTheRingWaitForRoomAndLoseNothing) {
    Handle& app = Open(0);
    Handle& other = Open(1);
    const std::string big = Pattern(10000);
    auto write = Write(app, big);
    EXPECT_FALSE(write->Completed());
    auto behind = Write(other, "after");
    EXPECT_TRUE(behind->Completed()) << "another port has its own ring";
    auto second = Write(app, "tail");
    EXPECT_FALSE(second->Completed()) << "waits behind the first";
    EXPECT_EQ(Outgoing(app), 10004u);
    std::string collected = CollectAll();
    ASSERT_TRUE(write->Completed());
    EXPECT_EQ(write->information, 10000u);
    ASSERT_TRUE(second->Completed());
    EXPECT_TRUE(collected == big + "tail" + "after") << collected.size();
}

TEST_F(TransmitTest, AWriteTimeoutEndsTheWriteWithWhatWentIn) {
    Handle& app = Open(0);
    Set(app, IOCTL_SERIAL_SET_TIMEOUTS, SERIAL_TIMEOUTS{0, 0, 0, 1, 100});
    auto write = Write(app, Pattern(5000));
    usermode::AdvanceMilliseconds(5099);
    EXPECT_FALSE(write->Completed());
    usermode::AdvanceMilliseconds(1);
    ASSERT_TRUE(write->Completed());
    EXPECT_EQ(write->status, status::success);
    EXPECT_EQ(write->information, 4095u) << "a short count: the rest is not sent";
    EXPECT_EQ(CollectAll(), Pattern(4095));
}

TEST_F(TransmitTest, TxemptyWhenTheHubHasTakenTheHandlesLastByte) {
    Handle& app = Open(0);
    Handle& other = Open(0);
    SetWaitMask(app, SERIAL_EV_TXEMPTY);
    SetWaitMask(other, SERIAL_EV_TXEMPTY);
    Write(app, "abc");
    auto wait = Wait(app);
    auto otherWait = Wait(other);
    EXPECT_FALSE(wait->Completed());
    Exchange();
    ASSERT_TRUE(wait->Completed());
    EXPECT_EQ(EventWord(*wait), SERIAL_EV_TXEMPTY);
    EXPECT_FALSE(otherWait->Completed()) << "it wrote nothing";

    Write(app, "def");
    Exchange();
    auto late = Wait(app);
    ASSERT_TRUE(late->Completed()) << "collected before the wait came: it ends at once";
    EXPECT_EQ(EventWord(*late), SERIAL_EV_TXEMPTY);
}

TEST_F(TransmitTest, TxabortAndTxclearEndOnlyTheCallersOutput) {
    Handle& app = Open(0);
    Handle& other = Open(0);
    Write(other, "other\r\n");
    auto big = Write(app, Pattern(5000));
    auto queued = Write(other, "queued");
    ASSERT_FALSE(big->Completed());
    EXPECT_EQ(Set(app, IOCTL_SERIAL_PURGE, SERIAL_PURGE_TXABORT | SERIAL_PURGE_TXCLEAR),
              status::success);
    ASSERT_TRUE(big->Completed());
    EXPECT_EQ(big->status, status::cancelled);
    EXPECT_EQ(big->information, 4088u) << "what had gone into the ring";
    ASSERT_TRUE(queued->Completed()) << "the cleared room lets the other write in";
    EXPECT_EQ(Outgoing(app), 0u);
    EXPECT_EQ(CollectAll(), "other\r\nqueued") << "the other program's bytes are kept";
}

TEST_F(TransmitTest, WhenTheHubLeavesWaitingRequestsEnd) {
    Handle& app = Open(0);
    auto write = Write(app, Pattern(6000));
    auto flush = Flush(app);
    ASSERT_FALSE(write->Completed());
    driver_.Dispatch(driver_.Control(), *MakeSimple(MajorFunction::Close, hub_));
    hubAttached_ = false;
    ASSERT_TRUE(write->Completed());
    EXPECT_EQ(write->information, 6000u) << "nobody collects: the ring keeps the newest bytes";
    ASSERT_TRUE(flush->Completed());
    EXPECT_EQ(flush->status, status::success);
    EXPECT_EQ(CollectAll(), Pattern(6000).substr(6000 - 4095));
}

} // namespace
} // namespace tavro::driver::testing
