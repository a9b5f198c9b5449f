// SPDX-License-Identifier: Apache-2.0
// How fresh the fix is, on the hub's clock moved by hand: a fix is current while the input is
// open and for three of the receiver's fix intervals (at least 3 s) after it arrived; the
// interval comes from the receiver's own fix times, however the sentences arrive.
#include "tests/engine/HubEngineFixture.h"

#include <cstdio>

namespace tavro::testing {
namespace {

constexpr int32_t dayMs = 24 * 3600 * 1000;

// An RMC of 12:00:00 + `ms`.
std::string Rmc(int32_t ms, char status = 'A') {
    const int32_t time = 12 * 3600 * 1000 + ms;
    char text[96];
    std::snprintf(text, sizeof text,
                  "GPRMC,%02d%02d%02d.%03d,%c,4807.038,N,01131.000,E,1.0,2.0,230313,,",
                  time / 3600000, time / 60000 % 60, time / 1000 % 60, time % 1000, status);
    return Nmea(text);
}

class FixFreshnessTest : public HubEngineFixture {
protected:
    const FixFreshness& Fresh() { return Hub().freshness; }
    uint64_t Now() { return timing_.Microseconds(); }
    bool Current() { return Fresh().Current(Now(), Hub().InputPortOpen()); }
    // The receiver's sentence `afterMs` after the last, read by the tick.
    void After(uint32_t afterMs, const std::string& sentence) {
        timing_.Advance(afterMs);
        Receive(sentence);
    }
};

TEST_F(FixFreshnessTest, AFixIsCurrentWhileTheInputIsOpenForThreeIntervalsAtLeastThreeSeconds) {
    StartAndOpen();
    EXPECT_FALSE(Fresh().AnyFix() || Fresh().AnyReport() || Current()) << "nothing yet";
    for (int32_t second = 0; second < 4; ++second) {
        After(1000, Rmc(second * 1000));
    }
    EXPECT_EQ(Fresh().IntervalMs(), 1000u);
    EXPECT_TRUE(Current());
    // The receiver goes on without a fix: its data flows, its last fix ages.
    After(1000, Rmc(4000, 'V'));
    EXPECT_EQ(Fresh().DataAgeUs(Now()), 0u);
    EXPECT_EQ(Fresh().FixAgeUs(Now()), 1'000'000u);
    timing_.Advance(1999);
    EXPECT_TRUE(Current());
    timing_.Advance(1);
    EXPECT_FALSE(Current()) << "3 s after the last fix";
    EXPECT_EQ(Fresh().FixAgeUs(Now()), 3'000'000u);

    // A receiver that reports every 5 s (and skipped a fix): current for 15 s.
    for (const int32_t ms : {10000, 15000, 20000, 30000, 35000}) {
        After(5000, Rmc(ms));
    }
    EXPECT_EQ(Fresh().IntervalMs(), 5000u);
    timing_.Advance(14999);
    EXPECT_TRUE(Current());
    timing_.Advance(1);
    EXPECT_FALSE(Current());

    After(0, Rmc(50000));
    EXPECT_TRUE(Current());
    Port().Close();
    EXPECT_FALSE(Current()) << "the input is closed";
    EXPECT_EQ(Fresh().FixAgeUs(Now()), 0u) << "the last fix stays known";
    Port().Open();
    ASSERT_TRUE(Hub().InputPortOpen());
    EXPECT_FALSE(Current()) << "a fix from before the close is not the open input's";
    After(1000, Rmc(51000));
    EXPECT_TRUE(Current());
}

TEST(FixIntervalTest, TheReceiversFixTimesGiveTheIntervalHoweverTheyArrive) {
    struct Case {
        const char* receiver;
        std::vector<int32_t> times; // of day, ms; all arrive at once
        uint32_t interval;
    };
    const Case cases[] = {
        {"1 Hz", {0, 1000, 2000, 3000}, 1000},
        {"4 Hz", {0, 250, 500, 750, 1000}, 250},
        {"10 Hz", {0, 100, 200, 300, 400, 500}, 100},
        {"every 5 s, a fix skipped", {0, 5000, 10000, 20000, 25000}, 5000},
        {"each fix twice (two talkers' RMC)", {0, 0, 1000, 1000, 2000, 2000}, 1000},
        {"across midnight", {dayMs - 2000, dayMs - 1000, 0, 1000}, 1000},
        {"away for two hours", {0, 1000, 7'201'000, 7'202'000}, 1000},
        {"no times", {-1, -1, -1}, 0},
    };
    for (const Case& c : cases) {
        FixFreshness fresh;
        for (const int32_t time : c.times) {
            fresh.FixReported(true, time, 5'000'000);
        }
        EXPECT_EQ(fresh.IntervalMs(), c.interval) << c.receiver;
        EXPECT_EQ(fresh.CurrentLimitUs(), std::max<uint64_t>(c.interval * 3000u, 3'000'000u))
            << c.receiver;
    }
}

} // namespace
} // namespace tavro::testing
