// The line under the simulator: byte pacing, the output queue and the noise of a wrong speed.
#include "tools/gps-sim/BytePacer.h"
#include "tools/gps-sim/LineNoise.h"
#include "tools/gps-sim/TransmitQueue.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro::gpssim {
namespace {

// Sends as fast as allowed for `milliseconds`, in steps of `stepMs`; returns the bytes sent.
size_t Drain(BytePacer& pacer, uint64_t& now, uint64_t milliseconds, uint64_t stepMs) {
    size_t sent = 0;
    for (uint64_t end = now + milliseconds; now < end;) {
        now += stepMs;
        const size_t allowed = pacer.Allowance(now);
        pacer.Consume(allowed);
        sent += allowed;
    }
    return sent;
}

TEST(BytePacer, CarriesBaudOverTenBytesPerSecond) {
    for (uint32_t baud : {4800u, 9600u, 38400u, 115200u}) {
        for (uint64_t step : {1u, 7u, 10u, 50u}) {
            SCOPED_TRACE(testing::Message() << baud << " baud, " << step << " ms steps");
            uint64_t now = 1000;
            BytePacer pacer(baud, now);
            const size_t sent = Drain(pacer, now, 10000, step);
            const double elapsedSeconds = static_cast<double>(now - 1000) / 1000;
            EXPECT_NEAR(static_cast<double>(sent), baud / 10.0 * elapsedSeconds, 1.0);
        }
    }
}

TEST(BytePacer, IdleTimeIsNotSavedUp) {
    uint64_t now = 0;
    BytePacer pacer(4800, now);
    EXPECT_EQ(pacer.Allowance(60000), 48u) << "at most 100 ms worth after a minute idle";
    now = 60000;
    pacer.Consume(48);
    EXPECT_EQ(pacer.Allowance(now), 0u);
    EXPECT_EQ(pacer.Allowance(now + 10), 4u);
}

TEST(BytePacer, ASpeedChangeCountsFromItsMoment) {
    uint64_t now = 0;
    BytePacer pacer(4800, now);
    const size_t slow = Drain(pacer, now, 1000, 10);
    pacer.SetBaud(9600, now);
    const size_t fast = Drain(pacer, now, 1000, 10);
    EXPECT_EQ(pacer.Baud(), 9600u);
    EXPECT_NEAR(static_cast<double>(slow), 480, 1.0);
    EXPECT_NEAR(static_cast<double>(fast), 960, 1.0);
}

std::string TakeAll(TransmitQueue& queue, size_t chunk, std::vector<uint32_t>* switches = nullptr) {
    std::string out;
    uint8_t buffer[64];
    for (;;) {
        uint32_t switchBaud = 0;
        const size_t taken = queue.Take(buffer, std::min(chunk, sizeof buffer), switchBaud);
        if (taken == 0) {
            return out;
        }
        out.append(reinterpret_cast<const char*>(buffer), taken);
        if (switchBaud != 0 && switches != nullptr) {
            switches->push_back(switchBaud);
            out += "|";
        }
    }
}

TEST(TransmitQueue, RepliesGoAheadAtTheNextSentenceBoundary) {
    TransmitQueue queue(1000);
    ASSERT_TRUE(queue.PushData("AAAA\n"));
    ASSERT_TRUE(queue.PushData("BBBB\n"));
    uint8_t buffer[3];
    uint32_t switchBaud = 0;
    ASSERT_EQ(queue.Take(buffer, 3, switchBaud), 3u); // "AAA" on the line
    queue.PushReply("r1\n");
    queue.PushReply("r2\n");
    EXPECT_EQ(queue.Pending(), 2u + 5u + 6u);
    EXPECT_EQ(TakeAll(queue, 4), "A\nr1\nr2\nBBBB\n");
    EXPECT_EQ(queue.Pending(), 0u);
}

TEST(TransmitQueue, ASpeedChangeFollowsItsAcknowledgementExactly) {
    TransmitQueue queue(1000);
    ASSERT_TRUE(queue.PushData("data1\n"));
    ASSERT_TRUE(queue.PushData("data2\n"));
    queue.PushReply("ack\n", 9600);
    std::vector<uint32_t> switches;
    // The reply waits for no boundary here: nothing was on the line yet.
    EXPECT_EQ(TakeAll(queue, 64, &switches), "ack\n|data1\ndata2\n");
    EXPECT_EQ(switches, std::vector<uint32_t>{9600});
}

TEST(TransmitQueue, OutputThatDoesNotFitIsDroppedWholeButRepliesAreNot) {
    TransmitQueue queue(10);
    EXPECT_TRUE(queue.PushData("123456\n"));
    EXPECT_FALSE(queue.PushData("abcdef\n"));
    queue.PushReply("reply\n");
    EXPECT_EQ(queue.Pending(), 13u);
    EXPECT_EQ(TakeAll(queue, 64), "reply\n123456\n");
}

TEST(LineNoise, NeverLooksLikeTheStartOfAStream) {
    LineNoise noise(42);
    std::vector<uint8_t> out(200000);
    const size_t count = noise.Garble(out.size(), 4800, 9600, out.data(), out.size());
    ASSERT_EQ(count, out.size());
    std::vector<int> histogram(256);
    for (uint8_t byte : out) {
        ++histogram[byte];
    }
    for (uint8_t banned : {uint8_t{'$'}, uint8_t{'!'}, uint8_t{0xA0}, uint8_t{0xB0}}) {
        EXPECT_EQ(histogram[banned], 0) << int{banned};
    }
    int distinct = 0;
    for (int n : histogram) {
        distinct += n > 0 ? 1 : 0;
    }
    EXPECT_EQ(distinct, 252) << "every other byte value turns up";
}

TEST(LineNoise, ASlowerListenerHearsProportionallyFewerBytes) {
    LineNoise noise(1);
    std::vector<uint8_t> out(1000);
    size_t heard = 0;
    for (int i = 0; i < 100; ++i) {
        heard += noise.Garble(7, 38400, 9600, out.data(), out.size()); // a quarter, carried over
    }
    EXPECT_EQ(heard, 175u);
    EXPECT_EQ(noise.Garble(5, 4800, 115200, out.data(), out.size()), 5u);
    EXPECT_EQ(noise.Garble(500, 4800, 9600, out.data(), 16), 16u) << "bounded by the buffer";
}

} // namespace
} // namespace tavro::gpssim
