// Auto Time Sync: when an RMC sets the clock, and with what.
#include "platform/ErrorCodes.h"
#include "tests/decode/FakeParserHost.h"
#include "tests/decode/TestFrames.h"

#include <gtest/gtest.h>

namespace tavro::testing {
namespace {

class ClockSyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        port.optionFlags = optionAutoTimeSync;
        port.block.fixState = static_cast<uint8_t>(FixState::Fix3D);
    }
    void Rmc(const std::string& time, const std::string& date = "230313",
             const std::string& status = "A", bool injected = false) {
        Parse(port, Sentence("GPRMC," + time + "," + status + ",,,,,0.0,0.0," + date + ",,"),
              injected);
    }
    size_t Sets() const { return port.clock.Calls().size(); }
    FakeParserHost port;
};

TEST_F(ClockSyncTest, SetsAtTheFirstWholeMinuteWithTenMillisecondsAdded) {
    Rmc("123459");
    EXPECT_EQ(Sets(), 0u);
    Rmc("123500");
    ASSERT_EQ(Sets(), 1u);
    const SystemTime& set = port.clock.Calls()[0];
    EXPECT_EQ((std::vector<int>{set.wYear, set.wMonth, set.wDay, set.wHour, set.wMinute,
                                set.wSecond, set.wMilliseconds}),
              (std::vector<int>{2013, 3, 23, 12, 35, 0, 10}));
    EXPECT_EQ(port.block.utcTime.wMilliseconds, 10) << "the block keeps the allowance";
    EXPECT_EQ(port.timeSynced, 1);
    Rmc("123600");
    EXPECT_EQ(Sets(), 1u) << "once per fix";
}

TEST_F(ClockSyncTest, TheAgeOfTheBurstIsAddedWhereThePortKnowsIt) {
    port.burstAgeKnown = true;
    struct Case {
        const char* time;
        const char* date;
        uint32_t age;
        std::vector<int> set;
    };
    for (const Case& c : {Case{"123500.800", "230313", 999, {2013, 3, 23, 12, 35, 1, 799}},
                          Case{"235900.000", "311223", 0, {2023, 12, 31, 23, 59, 0, 0}}}) {
        port.burstAge = c.age;
        port.timeSynced = 0;
        Rmc(c.time, c.date);
        ASSERT_FALSE(port.clock.Calls().empty());
        const SystemTime& set = port.clock.Calls().back();
        EXPECT_EQ((std::vector<int>{set.wYear, set.wMonth, set.wDay, set.wHour, set.wMinute,
                                    set.wSecond, set.wMilliseconds}),
                  c.set)
            << c.time;
    }
}

TEST_F(ClockSyncTest, LossOfFixAllowsTheNextSetting) {
    Rmc("123500");
    Rmc("123501", "230313", "V");
    Rmc("123600", "230313", "A");
    EXPECT_EQ(Sets(), 2u);
}

TEST_F(ClockSyncTest, RefusedConditions) {
    struct Case {
        const char* why;
        uint32_t options;
        uint8_t streamState;
        uint8_t fixState;
        const char* date;
    } cases[] = {
        {"option off", 0, 3, 3, "230313"},
        {"no stream recognised", optionAutoTimeSync, 2, 3, "230313"},
        {"no fix", optionAutoTimeSync, 3, 1, "230313"},
        {"invalid fix state", optionAutoTimeSync, 3, 5, "230313"},
        {"2030", optionAutoTimeSync, 4, 2, "010130"},
        {"2011", optionAutoTimeSync, 4, 2, "311211"},
    };
    for (const Case& c : cases) {
        FakeParserHost fresh;
        // The fix state as set above: read as GPS-only receivers are, where an RMC does not
        // set it (today's receivers' RMC says fix or no fix where nothing else does).
        fresh.multiGnss = false;
        fresh.optionFlags = c.options;
        fresh.block.streamState = c.streamState;
        fresh.block.fixState = c.fixState;
        Parse(fresh, Sentence(std::string("GPRMC,000000,A,,,,,,,") + c.date + ",,"));
        EXPECT_TRUE(fresh.clock.Calls().empty()) << c.why;
        EXPECT_EQ(fresh.timeSynced, 0) << c.why;
        EXPECT_EQ(fresh.block.utcTime.wMilliseconds, 0) << c.why;
    }
    Rmc("235900", "311229");
    EXPECT_EQ(Sets(), 1u) << "the last accepted year is 2029";
}

TEST_F(ClockSyncTest, HeldRelayStopsReceiverAndInjectedSettings) {
    port.relayHeld = 1;
    Rmc("123500");
    EXPECT_EQ(port.block.rmcCount, 0) << "receiver RMC not even decoded";
    Rmc("123500", "230313", "A", true);
    EXPECT_EQ(port.block.rmcCount, 1);
    EXPECT_EQ(Sets(), 0u);
    port.relayHeld = 0;
    Rmc("123500", "230313", "A", true);
    EXPECT_EQ(Sets(), 1u) << "an injected RMC may set the clock";
}

TEST_F(ClockSyncTest, RefusalByTheSystemIsNotRetriedDuringTheFix) {
    port.clock.AnswerWith(error::privilegeNotHeld);
    Rmc("123500");
    Rmc("123600");
    EXPECT_EQ(Sets(), 1u);
    EXPECT_EQ(port.timeSynced, 1);
}

TEST_F(ClockSyncTest, SwitchingTheOptionDoesNotClearTheFlag) {
    Rmc("123500");
    port.optionFlags = 0;
    Rmc("123600");
    port.optionFlags = optionAutoTimeSync;
    Rmc("123700");
    EXPECT_EQ(Sets(), 1u);
}

} // namespace
} // namespace tavro::testing
