// "PPS": assert edges of the carrier-detect line written as the top of the second the last fix
// places them in. The line is a fake serial port whose carrier changes the test queues, and the
// watch's thread runs on the test's thread: a pseudo-terminal cannot carry DCD (it has no modem
// lines, TIOCMIWAIT fails on it), so no real line could be used here.
#include "hub/time/PulsePerSecond.h"
#include "hub/engine/HubEngine.h"
#include "hub/input/SerialInput.h"
#include "platform/ErrorCodes.h"
#include "platform/testing/FakeSerialPorts.h"
#include "platform/testing/FakeThreads.h"
#include "platform/testing/RecordingTimeService.h"

#include <gtest/gtest.h>

namespace tavro::testing {
namespace {

using platform::UnixTime;
using platform::testing::FakeThreads;

constexpr int64_t second = 1000000000;
constexpr int64_t fixSecond = 1700000000;

class PulsePerSecondTest : public ::testing::Test {
protected:
    PulsePerSecondTest() : device_(ports_.Add(3)) { device_.HasCarrierLine(true); }

    std::unique_ptr<SerialInput> Open() {
        uint32_t error = 0;
        auto port = ports_.Open(3, platform::SerialSharing::ReadWrite, error);
        EXPECT_EQ(error, error::success);
        return std::make_unique<SerialInput>(ports_, 3, false, std::move(port));
    }

    platform::testing::FakeSerialPorts ports_;
    platform::testing::FakeSerialDevice& device_;
    FakeThreads threads_{FakeThreads::Start::Deferred};
    platform::testing::RecordingTimeService service_;
    PulsePerSecond pps_{&threads_, &service_};
};

TEST_F(PulsePerSecondTest, AssertEdgesBecomeTheTopOfTheSecondAfterTheLastFix) {
    auto port = Open();
    // The fix of second S arrived 120 ms after S on a system clock running 3 ms behind.
    const int64_t clockBehind = 3000000;
    const int64_t fixReceive = fixSecond * second + 120000000 - clockBehind;
    pps_.FixSeen(fixSecond * second, fixReceive);
    struct Edge {
        bool raised;
        int64_t atNs; // on the system clock
    };
    const Edge edges[] = {
        {true, (fixSecond + 1) * second - clockBehind + 20000}, // S + 1, 20 us late
        {false, (fixSecond + 1) * second + 100000000},          // the pulse ends: not a sample
        {true, (fixSecond + 1) * second + 600000000},           // between seconds: dropped
        {true, (fixSecond + 3) * second},                       // the fix too old: dropped
    };
    for (const Edge& edge : edges) {
        device_.QueueCarrierChange(edge.raised,
                                   {edge.atNs / second, static_cast<uint32_t>(edge.atNs % second)});
    }
    ASSERT_TRUE(pps_.Start(*port, 3));
    EXPECT_EQ(threads_.RunDeferred(), 1u);
    EXPECT_EQ(pps_.Edges(), 3u) << "assert edges only";
    ASSERT_EQ(service_.written.size(), 1u);
    const auto& written = service_.written[0];
    EXPECT_EQ(written.unit, 3u);
    EXPECT_EQ(written.sample.clock.seconds, fixSecond + 1);
    EXPECT_EQ(written.sample.clock.nanoseconds, 0u);
    EXPECT_EQ(written.sample.receive.seconds * second + written.sample.receive.nanoseconds,
              edges[0].atNs);
    EXPECT_EQ(written.sample.precision, ppsPrecision);
    EXPECT_EQ(service_.units[3].valid, 1);
    EXPECT_EQ(pps_.Samples(), 1u);
    pps_.Stop();
    EXPECT_EQ(service_.attached, 0u);
    EXPECT_FALSE(pps_.Unavailable());
}

TEST_F(PulsePerSecondTest, NoEdgeIsWrittenBeforeAFix) {
    auto port = Open();
    device_.QueueCarrierChange(true, {fixSecond, 0});
    ASSERT_TRUE(pps_.Start(*port, 1));
    threads_.RunDeferred();
    EXPECT_EQ(pps_.Edges(), 1u);
    EXPECT_TRUE(service_.written.empty());
}

TEST_F(PulsePerSecondTest, ALineWithoutCarrierDetectIsSaidOnce) {
    device_.HasCarrierLine(false);
    auto port = Open();
    EXPECT_FALSE(pps_.Start(*port, 1));
    EXPECT_FALSE(pps_.Running());
    EXPECT_EQ(threads_.StartCalls(), 0u);
    EXPECT_TRUE(pps_.Unavailable());
    EXPECT_TRUE(pps_.TakeUnavailableNotice());
    EXPECT_FALSE(pps_.Start(*port, 1));
    EXPECT_FALSE(pps_.TakeUnavailableNotice()) << "once";
    EXPECT_EQ(service_.attempts, 0u);
}

} // namespace
} // namespace tavro::testing
