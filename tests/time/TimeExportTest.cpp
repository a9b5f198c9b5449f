// "NTP Unit": every valid fix's time, with the moment its burst's first byte arrived, written
// to the time service's segment with its count/valid protocol; nothing without a fix, a
// measured arrival or a time that moved forward as the hub's own clock did.
#include "tests/engine/HubEngineFixture.h"

namespace tavro::testing {
namespace {

constexpr int64_t validRmcSeconds = 1364042119; // 2013-03-23 12:35:19 UTC

std::string Rmc(const char* time, char status = 'A') {
    return Nmea(std::string("GPRMC,") + time + "," + status +
                ",4807.038,N,01131.000,E,022.4,084.4,230313,003.1,W");
}

class TimeExportTest : public HubEngineFixture {
protected:
    TimeExportTest() {
        StoreSetting("Immediate Relay", 1);
        StoreSetting("NTP Unit", 2);
        timing_.Advance(100000);
    }

    // The receiver sends `sentence` `afterMs` after the last; the loop reports it at once.
    void Arrive(const std::string& sentence, uint32_t afterMs = 1000) {
        timing_.Advance(afterMs);
        receiver_.QueueInput(sentence);
        platform::WaitEntry entries[8];
        const uint32_t count = engine_.CollectWaits(entries, 8);
        for (uint32_t i = 0; i < count; ++i) {
            if (entries[i].events == platform::waitInput) {
                engine_.WaitReady(entries[i].token, platform::waitInput);
                return;
            }
        }
        ADD_FAILURE() << "no arrival wait";
    }

    // How long the line took for all but the first byte of `sentence` at 4800 baud.
    static int64_t LineNs(const std::string& sentence) {
        return static_cast<int64_t>(sentence.size() - 1) * 10000000 / 4800 * 1000;
    }

    const TimeExportState& State() { return engine_.Time().State(); }
};

TEST_F(TimeExportTest, ValidFixesAreWrittenOnceEachAndJumpsAreRefusedWithOneWarning) {
    StartAndOpen();
    Arrive(Rmc("123517.250"));
    EXPECT_EQ(State().unmeasured, 1u) << "the first burst may have begun before the open";
    Arrive(Rmc("123518.250", 'V'));
    EXPECT_EQ(timeService_.attempts, 0u) << "no fix, no segment";

    timeService_.now = {validRmcSeconds, 750000000}; // the system clock half a second ahead
    Arrive(validRmc);
    ASSERT_EQ(timeService_.written.size(), 1u);
    const platform::TimeSample& first = timeService_.written[0].sample;
    EXPECT_EQ(timeService_.written[0].unit, 2u);
    EXPECT_EQ(first.clock.seconds, validRmcSeconds);
    EXPECT_EQ(first.clock.nanoseconds, 250000000u) << "the sentence's fraction";
    // Received when its first byte came: the line's time before the read.
    const int64_t offset = 500000000 - LineNs(validRmc);
    EXPECT_EQ(State().lastOffsetNs, offset);
    EXPECT_EQ((first.receive.seconds - first.clock.seconds) * 1000000000 +
                  first.receive.nanoseconds - first.clock.nanoseconds,
              offset);
    EXPECT_EQ(first.precision, -10);
    EXPECT_EQ(first.samples, 3);
    EXPECT_EQ(first.leap, 0);
    const platform::NtpShmTime& shm = timeService_.units[2];
    EXPECT_EQ(shm.mode, 1);
    EXPECT_EQ(shm.count, 2) << "moved before and after the fields";
    EXPECT_EQ(shm.valid, 1);
    EXPECT_EQ(shm.clockTimeStampUSec, 250000);
    EXPECT_EQ(shm.nsamples, 3);

    struct Step {
        const char* time;
        uint32_t afterMs;
        size_t written;
        uint64_t refused;
        bool warning;
    };
    const Step steps[] = {
        {"123519.250", 0, 1, 0, false},    // the same epoch again: nothing new
        {"123520.250", 1000, 2, 0, false}, // a second later
        {"123510.000", 1000, 2, 1, true},  // back in time (a replay): refused, warned
        {"123511.000", 1000, 2, 2, false}, // still off: refused, warned no more
        {"133522.250", 1000, 2, 3, false}, // an hour ahead in two seconds
        {"123523.250", 1000, 3, 3, false}, // in step with the last sample again
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.time);
        Arrive(Rmc(step.time), step.afterMs);
        EXPECT_EQ(timeService_.written.size(), step.written);
        EXPECT_EQ(State().refused, step.refused);
        EXPECT_EQ(engine_.Time().TakeJumpWarning(), step.warning);
    }
    EXPECT_EQ(State().samples, 3u);
    EXPECT_EQ(timeService_.attempts, 1u) << "attached once";
}

// A week-number rollover (1024 weeks back: 1993, read from RMC as 2093) is refused before any
// sample to compare with.
TEST_F(TimeExportTest, ARolledOverDateIsRefusedFromTheStart) {
    StartAndOpen();
    Arrive(Nmea("GPRMC,123517.000,A,4807.038,N,01131.000,E,022.4,084.4,070893,003.1,W"));
    Arrive(Nmea("GPRMC,123518.000,A,4807.038,N,01131.000,E,022.4,084.4,070893,003.1,W"));
    EXPECT_EQ(State().refused, 1u);
    EXPECT_TRUE(engine_.Time().TakeJumpWarning());
    EXPECT_TRUE(timeService_.written.empty());
    EXPECT_EQ(timeService_.attempts, 0u);
}

TEST_F(TimeExportTest, NothingIsMadeWhileOffAndAFailedUnitIsTriedOnceAMinute) {
    StoreSetting("NTP Unit", ntpUnitNone);
    StartAndOpen();
    Arrive(validRmc);
    Hub().settings.ntpUnit = ntpUnitMax + 1; // edited into the settings by hand
    Arrive(Rmc("123520.250"));
    EXPECT_EQ(timeService_.attempts, 0u);
    Hub().settings.ntpUnit = 0;
    timeService_.failWith = error::accessDenied;
    Arrive(Rmc("123521.250"));
    Arrive(Rmc("123522.250"));
    EXPECT_EQ(timeService_.attempts, 1u);
    EXPECT_EQ(State().attachError, error::accessDenied);
    timeService_.failWith = error::success;
    Arrive(Rmc("123623.250"), 61000);
    EXPECT_EQ(timeService_.attempts, 2u);
    EXPECT_EQ(timeService_.written.size(), 1u);
    EXPECT_EQ(State().attachError, error::success);
}

// Read by the tick, a sentence is up to 50 ms late: its time is not handed on.
TEST_F(TimeExportTest, FixesReadByTheTickAreNotWritten) {
    StoreSetting("Immediate Relay", 0);
    StartAndOpen();
    timing_.Advance(1000);
    Receive(validRmc);
    EXPECT_EQ(State().unmeasured, 1u);
    EXPECT_TRUE(timeService_.written.empty());
}

// The fake line has no carrier-detect line unless told, as a pseudo-terminal has none.
TEST_F(TimeExportTest, PpsOnALineWithoutCarrierDetectIsSaidUnavailableOnce) {
    StoreSetting("PPS", 1);
    StartAndOpen();
    Tick();
    EXPECT_TRUE(engine_.Pulse()->Unavailable());
    EXPECT_TRUE(engine_.Pulse()->TakeUnavailableNotice());
    Tick(10);
    EXPECT_FALSE(engine_.Pulse()->TakeUnavailableNotice());
    EXPECT_EQ(timeService_.attempts, 0u) << "no segment for a pulse that cannot come";
}

TEST_F(TimeExportTest, TheSegmentIsLetGoWhenTheSettingChangesOrTheHubStops) {
    StartAndOpen();
    Arrive(Rmc("123518.250"));
    Arrive(validRmc);
    ASSERT_EQ(timeService_.attached, 1u);
    EXPECT_EQ(State().unit, 2u);
    Hub().settings.ntpUnit = 3;
    Tick();
    EXPECT_EQ(timeService_.attached, 0u);
    Arrive(Rmc("123520.250"));
    EXPECT_EQ(timeService_.written.back().unit, 3u);
    EXPECT_EQ(timeService_.attached, 1u);
    engine_.Destroy();
    EXPECT_EQ(timeService_.attached, 0u);
    EXPECT_EQ(State().unit, ntpUnitNone);
}

} // namespace
} // namespace tavro::testing
