// Multi-constellation receivers with "Multi GNSS" on: which talker gives the position, GNS,
// the used lists of several GSAs, GSV cycles per talker and signal, and the block's ids.
#include "common/SatelliteIds.h"
#include "hub/decode/GnssSentences.h"
#include "tests/decode/FakeParserHost.h"
#include "tests/decode/TestFrames.h"

#include <gtest/gtest.h>

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
}

TEST_F(GnssSentenceTest, GpsAloneIsReadAsEverButTheSignalIdIsNoSatellite) {
    FakeParserHost before;
    before.multiGnss = false;
    for (const char* body : {"GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1",
                             "GPGSV,2,1,07,04,40,100,20,05,41,101,21,"
                             "09,42,102,45,12,43,103,46",
                             "GPGSV,2,2,07,24,44,104,47,25,45,105,,26,46,106,48"}) {
        Feed(body);
        Parse(before, Sentence(body));
        EXPECT_EQ(memcmp(&block, &before.block, sizeof block), 0) << body;
    }
    block.satellites[11] = {99, 9, 9, 9};
    Feed("GPGSV,3,3,11,30,10,010,11,31,10,010,12,32,10,010,13,1");
    EXPECT_EQ(block.satellites[11].prn, 0) << "the signal id 1";
    EXPECT_EQ(block.satsInView, 11);
    EXPECT_EQ(block.usedEntries, 0);
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
