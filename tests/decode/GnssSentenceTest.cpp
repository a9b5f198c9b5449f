// Multi-constellation receivers with "Multi GNSS" on: which talker gives the position, GNS,
// the used lists of several GSAs, GSV cycles per talker and signal, and the block's ids.
#include "common/SatelliteIds.h"
#include "hub/decode/GnssSentences.h"
#include "tests/decode/FakeParserHost.h"
#include "tests/decode/TestFrames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace tavro::testing {
namespace {

class GnssSentenceTest : public ::testing::Test {
protected:
    void Feed(const std::string& body) { Parse(port, Sentence(body)); }
    void FeedAt(uint32_t tick, const std::string& body) {
        port.tick = tick;
        Feed(body);
    }
    std::vector<int> UsedPrns() const {
        return std::vector<int>(block.usedPrns, block.usedPrns + 12);
    }
    std::vector<int> TablePrns() const {
        std::vector<int> prns;
        for (const SatelliteEntry& entry : block.satellites) {
            prns.push_back(entry.prn);
        }
        return prns;
    }
    FakeParserHost port;
    GpsSharedStatus& block = port.block;
};

// Any sentence after the GSVs of an epoch.
const std::string gll = "GNGLL,4807.038,N,01131.000,E,120000.00,A,A";

std::string Gga(const char* talker, const char* latitude, int satellites) {
    return std::string(talker) + "GGA,120000.00," + latitude + ",N,01131.000,E,1," +
           std::to_string(satellites) + ",0.9,545.4,M,46.9,M,,";
}

TEST_F(GnssSentenceTest, CombinedTalkerWinsAndLowerOnesWaitTheirTurn) {
    block.fixValid = 1;
    struct Step {
        uint32_t tick;
        const char* talker;
        const char* latitude;
        bool taken;
    };
    const Step steps[] = {
        {0, "GA", "4801.000", true},     // nothing better yet
        {100, "GP", "4802.000", true},   // GP outranks a single constellation
        {200, "GA", "4803.000", false},  // GAGGA of the same epoch: no flicker
        {300, "GN", "4804.000", true},   // the combined solution outranks GP
        {1300, "GP", "4805.000", false}, // within talkerHoldMs of the GN one
        {3299, "GA", "4806.000", false},
        {3300, "GP", "4807.000", true}, // GN silent for talkerHoldMs: GP again
        {3400, "GN", "4808.000", true},
    };
    float latitude = 0;
    for (const Step& step : steps) {
        FeedAt(step.tick, Gga(step.talker, step.latitude, 7));
        if (step.taken) {
            latitude = DegreesFromDegreesMinutes(step.latitude);
        }
        EXPECT_FLOAT_EQ(block.latitude, latitude) << step.talker << " at " << step.tick;
    }
    // RMC keeps its own rank: a GPRMC beside GNGGA still gives time and validity.
    FeedAt(3500, "GPRMC,120001.00,A,4807.038,N,01131.000,E,1.0,2.0,230394,,,A");
    EXPECT_EQ(block.rmcCount, 1);
    FeedAt(3600, "GARMC,120002.00,A,4807.038,N,01131.000,E,1.0,2.0,230394,,,A");
    EXPECT_EQ(block.rmcCount, 1) << "one RMC per epoch, from the best talker";
    // Another program's frame counts whatever its talker: it means it to.
    Parse(port, Sentence("GARMC,120003.00,A,4807.038,N,01131.000,E,1.0,2.0,230394,,,A"), true);
    Parse(port, Sentence(Gga("GA", "4809.000", 7)), true);
    EXPECT_EQ(block.rmcCount, 2);
    EXPECT_FLOAT_EQ(block.latitude, DegreesFromDegreesMinutes("4809.000"));
}

TEST_F(GnssSentenceTest, GnsGivesTheFixLikeGga) {
    block.fixValid = 1;
    struct Case {
        const char* mode;
        int quality;
        uint8_t fixState;
    };
    for (const Case& c : {Case{"AAN", 1, 3}, Case{"NDA", 2, 3}, Case{"RR", 4, 3}, Case{"NN", 0, 5},
                          Case{"", 0, 5}}) {
        block.fixState = 3;
        Feed(std::string("GNGNS,120000.00,4807.038,S,01131.000,W,") + c.mode +
             ",14,0.9,545.4,46.9,2.0,0133,V");
        EXPECT_EQ(block.fixQuality, c.quality) << c.mode;
        EXPECT_EQ(block.fixState, c.fixState) << c.mode;
    }
    EXPECT_FLOAT_EQ(block.latitude, -48.1173f);
    EXPECT_FLOAT_EQ(block.longitude, -11.516667f);
    EXPECT_EQ(block.satsUsed, 14);
    EXPECT_FLOAT_EQ(block.altitude, 545.4f);
    EXPECT_FLOAT_EQ(block.geoidSeparation, 46.9f);
    EXPECT_FLOAT_EQ(block.dgpsAge, 2.0f);
    EXPECT_EQ(block.dgpsStation, 133);
    // A proprietary sentence whose code happens to read GNS is none.
    Feed("PMGNST,01.75,3,F,816,11.1,+00000,20");
    EXPECT_EQ(block.satsUsed, 14);
    port.multiGnss = false;
    Feed("GNGNS,120000.00,4807.038,N,01131.000,E,A,09,0.9,545.4,46.9,,,V");
    EXPECT_EQ(block.satsUsed, 14) << "not decoded without Multi GNSS";
}

TEST_F(GnssSentenceTest, GsasOfOneEpochMakeOneUsedList) {
    Feed(Gga("GN", "4807.038", 12)); // a GGA counts at most 12
    Feed("GNGSA,A,3,29,20,18,16,51,13,44,26,,,,,0.99,0.54,0.83,1");
    Feed("GNGSA,A,3,82,73,74,67,81,83,68,,,,,,0.99,0.54,0.83,2");
    Feed("GNGSA,A,3,03,05,30,27,15,,,,,,,,0.99,0.54,0.83,3");
    Feed("GNGSA,A,3,32,28,30,33,27,,,,,,,,0.99,0.54,0.83,4");
    // GPS and SBAS, then GLONASS; Galileo (301-336) and BeiDou (401-463) do not fit 8 bits.
    EXPECT_EQ(UsedPrns(), (std::vector<int>{29, 20, 18, 16, 51, 13, 44, 26, 82, 73, 74, 67}));
    EXPECT_EQ(block.satsUsed, 25) << "every used satellite, the GGA's 12 notwithstanding";
    EXPECT_EQ(block.fixState, 3);
    EXPECT_FLOAT_EQ(block.pdop, 0.99f);

    // The next epoch: its GGA keeps the count, and the first GSA leaves the other systems'
    // lists of the epoch before in place, so the count never dips.
    Feed(Gga("GN", "4807.038", 12));
    EXPECT_EQ(block.satsUsed, 25);
    Feed("GNGSA,A,3,29,20,18,16,51,13,44,,,,,,0.99,0.54,0.83,1");
    EXPECT_EQ(block.satsUsed, 24);
    EXPECT_EQ(UsedPrns()[7], 82);

    // A system no GSA mentions for two epochs is gone; so is the count of its satellites.
    for (int epoch = 0; epoch < 2; ++epoch) {
        Feed(Gga("GN", "4807.038", 12));
        Feed("GNGSA,A,3,29,20,18,16,51,13,44,,,,,,0.99,0.54,0.83,1");
        Feed("GNGSA,A,3,82,73,74,67,81,83,68,,,,,,0.99,0.54,0.83,2");
    }
    EXPECT_EQ(block.satsUsed, 14);
}

TEST_F(GnssSentenceTest, GsaSystemComesFromIdTalkerOrSatelliteNumbers) {
    // Without system ids (NMEA before 4.10) a GNGSA's system is that of its satellites; a
    // full list of twelve continued by a second GSA of the same system is one list.
    Feed("GNGSA,A,3,01,02,03,04,05,06,07,08,09,10,11,12,1.5,0.9,1.2");
    Feed("GNGSA,A,3,13,14,,,,,,,,,,,1.5,0.9,1.2");
    Feed("GNGSA,A,3,65,66,,,,,,,,,,,1.5,0.9,1.2");
    EXPECT_EQ(block.satsUsed, 16);
    Feed(Gga("GN", "4807.038", 0));
    Feed("GAGSA,A,3,01,02,,,,,,,,,,,1.5,0.9,1.2"); // Galileo by its talker
    Feed("GNGSA,A,3,05,,,,,,,,,,,,1.5,0.9,1.2,4"); // BeiDou by its system id
    EXPECT_EQ(block.satsUsed, 19) << "GPS and GLONASS of the epoch before, and 3 more";
    EXPECT_EQ(UsedPrns()[0], 1);
    Feed("GNGSV,1,1,04,301,10,020,30,302,11,021,31,405,12,022,32,14,13,023,33");
    Feed(gll);
    EXPECT_EQ(block.usedEntries & 0x0F, 0x0F) << "the used Galileo and BeiDou are marked";
}

TEST_F(GnssSentenceTest, GsvCyclesPerTalkerMakeOneTable) {
    Feed("GNGSA,A,3,05,07,,,,,,,,,,,1.5,0.9,1.2,1");
    Feed("GNGSA,A,3,03,,,,,,,,,,,,1.5,0.9,1.2,3");
    // Each talker numbers its messages from 1; NMEA 4.11 ends each with a signal id.
    Feed("GPGSV,2,1,05,05,40,100,20,07,41,101,21,09,42,102,45,11,43,103,46,1");
    Feed("GPGSV,2,2,05,13,44,104,47,1");
    Feed("GAGSV,1,1,03,03,50,200,25,08,51,201,48,12,52,202,44,7");
    Feed("GBGSV,1,1,02,19,60,300,49,22,61,301,30,1");
    Feed("GLGSV,1,1,01,65,70,010,31,1");
    // Seen by a second signal: one satellite, its stronger signal.
    Feed("GPGSV,1,1,01,13,44,104,50,8");
    EXPECT_EQ(block.satsInView, 5) << "GPS as ever until the GSVs of the epoch are over";
    Feed(gll);
    EXPECT_EQ(block.satsInView, 5 + 3 + 2 + 1) << "the sum over the talkers";
    // Used first (05, 07, Galileo 03), then the strongest; shown used first, then by id.
    EXPECT_EQ(TablePrns(), (std::vector<int>{5, 7, 303, 9, 11, 13, 65, 308, 312, 419, 422, 0}));
    EXPECT_EQ(block.satellites[5].snr, 50);
    EXPECT_EQ(block.usedEntries, 0x7);
    EXPECT_EQ(block.satellites[2].elevation, 50);
    EXPECT_EQ(block.satellites[2].azimuth, 200);

    // Twelve places for more satellites: the weakest unused ones stay out; a cycle with a
    // message missing changes nothing.
    Feed("GQGSV,1,1,04,01,10,010,60,02,10,010,10,03,10,010,11,04,10,010,12,0");
    Feed(gll);
    EXPECT_EQ(TablePrns(), (std::vector<int>{5, 7, 303, 9, 11, 13, 65, 193, 308, 312, 419, 422}));
    Feed("GLGSV,2,1,05,65,70,010,31,66,70,010,31,67,70,010,31,68,70,010,31,1");
    Feed("GLGSV,2,2,05,69,70,010,31,1");
    Feed("GLGSV,3,1,09,70,70,010,99,71,70,010,99,72,70,010,99,73,70,010,99,1");
    Feed("GLGSV,3,3,09,74,70,010,99,1");
    Feed(gll);
    EXPECT_EQ(block.satsInView, 5 + 3 + 2 + 5 + 4);
    EXPECT_EQ(TablePrns(), (std::vector<int>{5, 7, 303, 9, 11, 13, 65, 66, 193, 308, 312, 419}));

    // The whole sky beyond the table: each satellite once, as many as satsInView, used
    // marked; a capacity smaller than the sky cuts the list, never overruns it.
    SkySatellite sky[64];
    const int count = ListGnssSky(port.gnss, port.tick, sky, 64);
    std::vector<int> prns;
    for (int i = 0; i < count; ++i) {
        prns.push_back(sky[i].entry.prn);
        EXPECT_EQ(sky[i].used, prns.back() == 5 || prns.back() == 7 || prns.back() == 303);
        if (prns.back() == 13) {
            EXPECT_EQ(sky[i].entry.snr, 50) << "its stronger signal";
        }
    }
    std::sort(prns.begin(), prns.end());
    EXPECT_EQ(prns, (std::vector<int>{5, 7, 9, 11, 13, 65, 66, 67, 68, 69, 193, 194, 195, 196, 303,
                                      308, 312, 419, 422}));
    EXPECT_EQ(ListGnssSky(port.gnss, port.tick, sky, 3), 3);
}

TEST_F(GnssSentenceTest, GpsAloneFillsTheTableAsEverAndCountsWhatItLists) {
    FakeParserHost before;
    before.multiGnss = false;
    for (const char* body : {"GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1",
                             "GPGSV,2,1,07,04,40,100,20,05,41,101,21,"
                             "09,42,102,45,12,43,103,46",
                             "GPGSV,2,2,07,24,44,104,47,25,45,105,,26,46,106,48"}) {
        Feed(body);
        Parse(before, Sentence(body));
        EXPECT_EQ(memcmp(block.satellites, before.block.satellites, sizeof block.satellites), 0)
            << body;
    }
    EXPECT_EQ(block.satsInView, 7);
    EXPECT_EQ(block.usedEntries, 0);
    // Next epoch: the count field says 10, the cycle lists 12 (SBAS PRNs 136 and 124 at its
    // end).
    Feed(Gga("GP", "4807.038", 5));
    Feed("GPGSV,3,1,10,09,78,288,38,17,38,071,,05,34,230,45,26,33,163,39");
    Feed("GPGSV,3,2,10,29,26,162,,18,24,255,42,22,24,298,44,28,10,056,");
    Feed("GPGSV,3,3,10,14,09,319,,11,03,016,,136,27,157,,124,28,162,");
    EXPECT_EQ(block.satsInView, 12);
    // A signal id after the groups is no satellite.
    Feed(Gga("GP", "4807.038", 5));
    Feed("GPGSV,3,1,11,01,10,010,11,02,10,010,12,03,10,010,13,04,10,010,14,1");
    Feed("GPGSV,3,2,11,06,10,010,11,07,10,010,12,08,10,010,13,10,10,010,14,1");
    block.satellites[11] = {99, 9, 9, 9};
    Feed("GPGSV,3,3,11,30,10,010,11,31,10,010,12,32,10,010,13,1");
    EXPECT_EQ(block.satellites[11].prn, 0);
    EXPECT_EQ(block.satsInView, 11);
}

TEST_F(GnssSentenceTest, ALostFixKeepsTheLastPosition) {
    FeedAt(0, "GNRMC,120000.00,A,4807.038,N,01131.000,E,1.0,2.0,230394,,,A");
    FeedAt(0, Gga("GN", "4807.038", 9));
    const PreciseFix fix = port.precise;
    // The fix is lost: GGA first, its position fields empty, while the last RMC said "A".
    FeedAt(1000, "GNGGA,120001.00,,,,,0,00,99.99,,,,,,");
    FeedAt(1000, "GNRMC,120001.00,V,,,,,,,230394,,,N");
    EXPECT_FLOAT_EQ(block.latitude, DegreesFromDegreesMinutes("4807.038"));
    EXPECT_FLOAT_EQ(block.altitude, 545.4f);
    EXPECT_EQ(port.precise.latitude, fix.latitude);
    EXPECT_EQ(port.precise.longitude, fix.longitude);
    EXPECT_EQ(block.fixValid, 0);
    EXPECT_EQ(block.fixState, static_cast<uint8_t>(FixState::Invalid)) << "GGA quality 0";
    // A GGA without a fix gives no position even while the RMC still says "A".
    FeedAt(2000, "GNRMC,120002.00,A,4807.038,N,01131.000,E,1.0,2.0,230394,,,A");
    FeedAt(2000, "GNGGA,120002.00,4900.000,N,01131.000,E,0,00,99.99,,,,,,");
    EXPECT_EQ(port.precise.latitude, fix.latitude);
}

// The sentence that decides the fix reports it to the host, with its validity and the
// receiver's time: RMC where it comes, else GGA (or GNS), else GLL.
TEST_F(GnssSentenceTest, TheSentenceThatDecidesTheFixReportsIt) {
    struct Case {
        const char* receiver;
        std::vector<std::string> epoch; // sent each second from 12:00:00
        bool valid;
    };
    const Case cases[] = {
        {"RMC and GGA, fix",
         {"GNRMC,12000%d.00,A,4807.038,N,01131.000,E,1.0,2.0,230394,,,A",
          "GNGGA,12000%d.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"},
         true},
        {"RMC and GGA, no fix",
         {"GNRMC,12000%d.00,V,,,,,,,230394,,,N", "GNGGA,12000%d.00,,,,,0,00,99.99,,,,,,"},
         false},
        {"GGA alone, fix", {"GPGGA,12000%d.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,,,"}, true},
        {"GGA alone, no fix", {"GPGGA,12000%d.00,,,,,0,00,99.99,,,,,,"}, false},
        {"GLL alone, fix", {"GNGLL,4807.038,N,01131.000,E,12000%d.00,A,A"}, true},
        {"GLL alone, no fix", {"GNGLL,,,,,12000%d.00,V,N"}, false},
    };
    for (const Case& c : cases) {
        FakeParserHost host;
        for (int second = 0; second < 3; ++second) {
            host.tick = static_cast<uint32_t>(second * 1000);
            for (std::string body : c.epoch) {
                body.replace(body.find("%d"), 2, std::to_string(second));
                Parse(host, Sentence(body));
            }
        }
        ASSERT_FALSE(host.fixReports.empty()) << c.receiver;
        const auto [valid, time] = host.fixReports.back();
        EXPECT_EQ(valid, c.valid) << c.receiver;
        EXPECT_EQ(time, 12 * 3600 * 1000 + 2000) << c.receiver;
        EXPECT_EQ(host.fixReports.size(), 3u) << c.receiver << ": one report a fix";
    }
}

TEST_F(GnssSentenceTest, WithoutRmcValidityAndTimeComeFromGgaAndZda) {
    FeedAt(0, "GPGGA,235959.50,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
    EXPECT_EQ(block.fixValid, 1) << "never an RMC: GGA's quality says it";
    EXPECT_FLOAT_EQ(block.latitude, DegreesFromDegreesMinutes("4807.038"));
    EXPECT_EQ((std::vector<int>{block.utcTime.wHour, block.utcTime.wMinute, block.utcTime.wSecond,
                                block.utcTime.wMilliseconds}),
              (std::vector<int>{23, 59, 59, 500}));
    EXPECT_FALSE(port.precise.hasDate);
    FeedAt(0, "GPZDA,235959.50,31,12,2029,00,00");
    EXPECT_EQ((std::vector<int>{block.utcTime.wYear, block.utcTime.wMonth, block.utcTime.wDay}),
              (std::vector<int>{2029, 12, 31}));
    // Past midnight the GGA's time moves the date on before its ZDA comes.
    FeedAt(1000, "GPGGA,000000.50,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
    EXPECT_EQ((std::vector<int>{block.utcTime.wYear, block.utcTime.wMonth, block.utcTime.wDay}),
              (std::vector<int>{2030, 1, 1}));
    FeedAt(2000, "GPGGA,000001.50,,,,,0,00,99.99,,,,,,");
    EXPECT_EQ(block.fixValid, 0);
    // Once RMCs come, theirs are validity and time; GGA's only after none for 3 s.
    FeedAt(3000, "GPRMC,000002.50,A,4807.038,N,01131.000,E,1.0,2.0,010130,,,A");
    FeedAt(5999, "GPGGA,000003.50,,,,,0,00,99.99,,,,,,");
    EXPECT_EQ(block.fixValid, 1);
    EXPECT_EQ(block.utcTime.wSecond, 2);
    FeedAt(6000, "GPGGA,000004.50,,,,,0,00,99.99,,,,,,");
    EXPECT_EQ(block.fixValid, 0);
    EXPECT_EQ(block.utcTime.wSecond, 4);
}

TEST_F(GnssSentenceTest, WithoutGgaThePositionComesFromRmcOrGll) {
    // A receiver of RMC alone: position and fix from it.
    FeedAt(0, "GPRMC,120000.00,A,4807.038,N,01131.000,W,1.0,2.0,230394,,,A");
    EXPECT_FLOAT_EQ(block.longitude, -DegreesFromDegreesMinutes("01131.000"));
    EXPECT_EQ(block.fixState, static_cast<uint8_t>(FixState::Fix2D));
    FeedAt(1000, "GPRMC,120001.00,V,,,,,,,230394,,,N");
    EXPECT_EQ(block.fixState, static_cast<uint8_t>(FixState::NoFix));
    // GNS with GLL: validity and time from GNS, the position from both.
    FeedAt(2000, "GNGNS,120002.00,4808.000,N,01131.000,E,AA,10,0.9,545.4,46.9,,,V");
    EXPECT_EQ(block.fixValid, 0) << "the RMC of 2 s ago still says";
    FeedAt(4000, "GNGNS,120004.00,4809.000,N,01131.000,E,AA,10,0.9,545.4,46.9,,,V");
    EXPECT_EQ(block.fixValid, 1);
    EXPECT_FLOAT_EQ(block.latitude, DegreesFromDegreesMinutes("4809.000"));
    FeedAt(4000, "GNGLL,4810.000,N,01131.000,E,120004.00,A,A");
    EXPECT_FLOAT_EQ(block.latitude, DegreesFromDegreesMinutes("4809.000")) << "same epoch";
    FeedAt(5000, "GNGLL,4811.000,N,01131.000,E,120005.00,A,A");
    EXPECT_FLOAT_EQ(block.latitude, DegreesFromDegreesMinutes("4811.000")) << "a later one";
    FeedAt(5000, "GNGNS,120005.00,,,,,NN,00,,,,,,V");
    FeedAt(5000, "GNGLL,4812.000,N,01131.000,E,120005.00,V,N");
    EXPECT_EQ(block.fixValid, 0);
    EXPECT_FLOAT_EQ(block.latitude, DegreesFromDegreesMinutes("4811.000"));
    // GLL alone: validity, time and position.
    FeedAt(9000, "ECGLL,4813.000,N,01131.000,E,120009.00,A,A");
    EXPECT_EQ(block.fixValid, 1);
    EXPECT_EQ(block.utcTime.wSecond, 9);
    EXPECT_FLOAT_EQ(block.latitude, DegreesFromDegreesMinutes("4813.000"));
}

TEST_F(GnssSentenceTest, TheFixKeepsTheReceiversDigits) {
    FeedAt(7, "GNRMC,123519.257,A,4807.03800123,N,01131.00000456,W,0.012,84.41,230313,,,R");
    FeedAt(7, "GNGGA,123519.257,4807.03800123,N,01131.00000456,W,4,12,0.5,545.4321,M,46.9,"
              "M,1.0,0001");
    const PreciseFix& fix = port.precise;
    EXPECT_NEAR(fix.latitude, 48 + 7.03800123 / 60, 1e-12);
    EXPECT_NEAR(fix.longitude, -(11 + 31.00000456 / 60), 1e-12);
    EXPECT_NE(static_cast<double>(block.latitude), fix.latitude) << "the block's float";
    EXPECT_DOUBLE_EQ(fix.altitude, 545.4321);
    EXPECT_DOUBLE_EQ(fix.speedKnots, 0.012);
    EXPECT_DOUBLE_EQ(fix.course, 84.41);
    EXPECT_DOUBLE_EQ(fix.second, 19.257);
    EXPECT_EQ(fix.timeTick, 7u);
    EXPECT_TRUE(fix.hasPosition && fix.hasAltitude && fix.hasSpeed && fix.hasCourse &&
                fix.hasTime && fix.hasDate);
    EXPECT_FALSE(fix.hasDops);
    Feed("GNGSA,A,3,29,20,18,16,51,13,44,26,,,,,1.21,0.54,1.08,1");
    EXPECT_DOUBLE_EQ(fix.hdop, 0.54);
}

TEST_F(GnssSentenceTest, ACycleWhoseSignalChangesOnTheWayStillCounts) {
    // A Quectel LC79D lists a second signal's satellites in the last message of a cycle, and
    // numbers Galileo from 101.
    for (const char* body :
         {"GPGSV,3,1,10,02,25,260,39,04,15,092,27,05,,,14,06,12,215,45",
          "GPGSV,3,2,10,07,80,137,44,09,53,089,27,30,55,211,49",
          "GPGSV,3,3,10,06,,,40,09,,,27,30,,,39,8",
          "GLGSV,2,1,06,74,20,191,42,70,38,115,43,73,64,151,49,88,15,341,22",
          "GLGSV,2,2,06,71,,,27,72,32,310,16", "QZGSV,1,1,01,02,05,042,29", "BDGSV,1,1,01,219,,,47",
          "GAGSV,2,1,04,102,28,167,40,103,69,097,33", "GAGSV,2,2,04,102,,,40,103,,,29,1"}) {
        Feed(body);
    }
    Feed(gll);
    EXPECT_EQ(block.satsInView, 7 + 6 + 1 + 1 + 2) << "each satellite once";
    std::vector<int> prns = TablePrns();
    for (const int id : {30, 73, 194, 419, 302, 303}) {
        EXPECT_NE(std::find(prns.begin(), prns.end(), id), prns.end()) << id;
    }
    EXPECT_EQ(block.satellites[std::find(prns.begin(), prns.end(), 6) - prns.begin()].snr, 45)
        << "its stronger signal";
    // Quectel's $PQGSV names its system after the signal id: BeiDou (4) or QZSS (5).
    FakeParserHost quectel;
    for (const char* body : {"GPGSV,1,1,01,02,25,260,39,1", "PQGSV,1,1,02,04,,,32,12,46,282,30,0,4",
                             "PQGSV,1,1,01,03,10,100,20,0,5", gll.c_str()}) {
        Parse(quectel, Sentence(body));
    }
    EXPECT_EQ(quectel.block.satsInView, 4);
    std::vector<int> ids;
    for (const SatelliteEntry& entry : quectel.block.satellites) {
        ids.push_back(entry.prn);
    }
    EXPECT_EQ(ids, (std::vector<int>{2, 195, 404, 412, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(GnssSatelliteIds, EachConstellationHasItsOwnRange) {
    struct Case {
        GnssSystem system;
        int32_t number;
        int id;
        Constellation constellation;
    };
    const Case cases[] = {
        {GnssSystem::Gps, 7, 7, Constellation::Gps},
        {GnssSystem::Gps, 51, 51, Constellation::Sbas},
        {GnssSystem::Gps, 131, 44, Constellation::Sbas}, // SBAS PRN 131
        {GnssSystem::Gps, 193, 193, Constellation::Qzss},
        {GnssSystem::Glonass, 70, 70, Constellation::Glonass},
        {GnssSystem::Glonass, 6, 70, Constellation::Glonass},
        {GnssSystem::Galileo, 36, 336, Constellation::Galileo},
        {GnssSystem::Galileo, 102, 302, Constellation::Galileo}, // numbered from 101
        {GnssSystem::Galileo, 301, 301, Constellation::Galileo},
        {GnssSystem::Galileo, 65, 0, Constellation::Unknown},
        {GnssSystem::Gps, 110, 0, Constellation::Unknown}, // no satellite of any system
        {GnssSystem::BeiDou, 63, 463, Constellation::BeiDou},
        {GnssSystem::BeiDou, 213, 413, Constellation::BeiDou},
        {GnssSystem::Qzss, 2, 194, Constellation::Qzss},
        {GnssSystem::NavIc, 3, 503, Constellation::NavIc},
        {GnssSystem::Unknown, 305, 305, Constellation::Galileo},
        {GnssSystem::Gps, 0, 0, Constellation::Unknown},
        {GnssSystem::Galileo, -4, 0, Constellation::Unknown},
        {GnssSystem::BeiDou, 99999, 0, Constellation::Unknown},
    };
    for (const Case& c : cases) {
        const int id = SatelliteId(c.system, c.number);
        EXPECT_EQ(id, c.id) << static_cast<int>(c.system) << " " << c.number;
        EXPECT_EQ(ConstellationOf(id), c.constellation) << id;
    }
}

} // namespace
} // namespace tavro::testing
