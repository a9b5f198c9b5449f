// What each NMEA sentence puts into the status block, read as GPS-only receivers always were
// ("Multi GNSS" 0); GnssSentenceTest has the rules of today's receivers.
#include "hub/decode/NmeaSentences.h"
#include "tests/decode/FakeParserHost.h"
#include "tests/decode/TestFrames.h"

#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

namespace tavro::testing {
namespace {

class NmeaSentenceTest : public ::testing::Test {
protected:
    NmeaSentenceTest() { port.multiGnss = false; }
    void Feed(const std::string& body) { Parse(port, Sentence(body)); }
    GpsSharedStatus& block = port.block;
    FakeParserHost port;
};

TEST_F(NmeaSentenceTest, RmcThenGgaFillTimePositionSpeedAndCourse) {
    Feed("GPRMC,123519.250,A,4807.038,N,01131.000,W,022.4,084.4,230313,003.1,W");
    EXPECT_EQ(block.rmcCount, 1);
    EXPECT_EQ(block.fixValid, 1);
    const SystemTime& t = block.utcTime;
    EXPECT_EQ((std::vector<int>{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                                t.wMilliseconds}),
              (std::vector<int>{2013, 3, 23, 12, 35, 19, 250}));
    EXPECT_FLOAT_EQ(block.speedKnots, 22.4f);
    EXPECT_FLOAT_EQ(block.course, 84.4f);
    EXPECT_EQ(block.latitude, 0.0f) << "RMC positions are not stored";

    Feed("GPGGA,123519,4807.038,N,01131.000,W,1,08,0.9,545.4,M,46.9,M,2.5,0133");
    EXPECT_FLOAT_EQ(block.latitude, 48.1173f);
    EXPECT_FLOAT_EQ(block.longitude, -11.516667f);
    EXPECT_EQ(block.fixQuality, 1);
    EXPECT_EQ(block.satsUsed, 8);
    EXPECT_FLOAT_EQ(block.altitude, 545.4f);
    EXPECT_FLOAT_EQ(block.geoidSeparation, 46.9f);
    EXPECT_FLOAT_EQ(block.dgpsAge, 2.5f);
    EXPECT_EQ(block.dgpsStation, 133);
    EXPECT_FLOAT_EQ(block.hdop, 0.0f) << "GGA's HDOP is not taken";
}

TEST_F(NmeaSentenceTest, GgaWithoutValidFixKeepsPositionAndAltitude) {
    block.latitude = 1.5f;
    block.longitude = 2.5f;
    block.altitude = 3.5f;
    Feed("GPGGA,123519,4807.038,S,01131.000,E,2,05,0.9,545.4,M,-31.4,M,6.0,0007");
    EXPECT_EQ(block.latitude, 1.5f);
    EXPECT_EQ(block.longitude, 2.5f);
    EXPECT_EQ(block.altitude, 3.5f);
    EXPECT_EQ(block.fixQuality, 2);
    EXPECT_EQ(block.satsUsed, 5);
    EXPECT_FLOAT_EQ(block.geoidSeparation, -31.4f);
    EXPECT_FLOAT_EQ(block.dgpsAge, 6.0f);
    EXPECT_EQ(block.dgpsStation, 7);

    block.fixValid = 1;
    Feed("GPGGA,123519,4807.038,S,01131.000,E,2,05,0.9,545.4,M,-31.4,M,6.0,0007");
    EXPECT_FLOAT_EQ(block.latitude, -48.1173f);
    EXPECT_FLOAT_EQ(block.longitude, 11.516667f);
}

TEST_F(NmeaSentenceTest, DegreesMinutesUseTheSinglePrecisionSixtieth) {
    EXPECT_EQ(DegreesFromDegreesMinutes("4807.038"),
              static_cast<float>(48 + 7.038 * static_cast<double>(0.016666668f)));
    EXPECT_EQ(DegreesFromDegreesMinutes("-4807.038"), -DegreesFromDegreesMinutes("4807.038"));
    EXPECT_EQ(DegreesFromDegreesMinutes(""), 0.0f);
    EXPECT_TRUE(isnan(DegreesFromDegreesMinutes("nan")));
    EXPECT_TRUE(isinf(DegreesFromDegreesMinutes("inf")));
    // Beyond 32-bit integers the truncation stays defined and continuous.
    EXPECT_FLOAT_EQ(DegreesFromDegreesMinutes("1e12"), 1e10f + 0.0f);
}

TEST_F(NmeaSentenceTest, FixStateFollowsGsaAndGgaAdjustsIt) {
    struct Step {
        std::string body;
        int fixState;
    } steps[] = {
        {"GPGSA,A,2,04,05,,09,12,,,24,,,,,2.5,1.3,2.1", 2},
        {"GPGGA,,,,,,1,04,,,,,,,", 3}, // GGA with quality promotes 2D to 3D
        {"GPGSA,M,2,,,,,,,,,,,,,,,", 2},
        {"GPGGA,,,,,,0,00,,,,,,,", 5}, // quality 0 spoils a fix
        {"GPGSA,A,1,,,,,,,,,,,,,,,", 1},
        {"GPGGA,,,,,,0,00,,,,,,,", 1},     // but not "no fix"
        {"GPGSA,A,260,,,,,,,,,,,,,,,", 4}, // stored as the low byte, unchecked
    };
    for (const Step& s : steps) {
        Feed(s.body);
        EXPECT_EQ(block.fixState, s.fixState) << s.body;
    }
}

TEST_F(NmeaSentenceTest, GsaFillsModePrnsAndDops) {
    Feed("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1");
    EXPECT_EQ(block.selectionMode, 1);
    const uint8_t prns[12] = {4, 5, 0, 9, 12, 0, 0, 24, 0, 0, 0, 0};
    EXPECT_EQ(memcmp(block.usedPrns, prns, 12), 0);
    EXPECT_FLOAT_EQ(block.pdop, 2.5f);
    EXPECT_FLOAT_EQ(block.hdop, 1.3f);
    EXPECT_FLOAT_EQ(block.vdop, 2.1f);
    Feed("GPGSA,M,3,,,,,,,,,,,,,,,");
    EXPECT_EQ(block.selectionMode, 2);
    Feed("GPGSA,X,3,,,,,,,,,,,,,,,");
    EXPECT_EQ(block.selectionMode, 0);
}

TEST_F(NmeaSentenceTest, GsvFillsGroupsOfFourOnlyForMessagesOneToThree) {
    Feed("GPGSV,4,1,13,02,28,259,33,04,12,212,27,05,34,305,30,07,79,138,");
    Feed("GPGSV,4,3,13,16,20,040,17,26,08,271,30,28,01,168,18");
    EXPECT_EQ(block.satsInView, 13);
    EXPECT_EQ(block.satellites[0].prn, 2);
    EXPECT_EQ(block.satellites[0].elevation, 28);
    EXPECT_EQ(block.satellites[0].azimuth, 259);
    EXPECT_EQ(block.satellites[0].snr, 33);
    EXPECT_EQ(block.satellites[3].snr, 0) << "empty SNR";
    EXPECT_EQ(block.satellites[10].prn, 28);
    EXPECT_EQ(block.satellites[11].prn, 0) << "short last group: fourth entry cleared";
    EXPECT_EQ(block.satellites[11].azimuth, 0);

    const GpsSharedStatus before = block;
    Feed("GPGSV,4,4,14,39,31,170,27");
    Feed("GPGSV,4,0,15,40,31,170,27");
    EXPECT_EQ(block.satsInView, 15) << "set by every message";
    EXPECT_EQ(memcmp(block.satellites, before.satellites, sizeof block.satellites), 0);
}

TEST_F(NmeaSentenceTest, RmcTimeFractionsAreMilliseconds) {
    struct Case {
        const char* time;
        int milliseconds;
    } cases[] = {{"123519.250", 250}, {"123519.25", 250},   {"123519.5", 500}, {"123519", 0},
                 {"123519.", 0},      {"123519.2567", 256}, {"123519.07", 70}};
    for (const Case& c : cases) {
        block.utcTime.wMilliseconds = 999;
        Feed(std::string("GPRMC,") + c.time + ",A,,,,,,,230313,,");
        EXPECT_EQ(block.utcTime.wMilliseconds, c.milliseconds) << c.time;
        EXPECT_EQ(block.utcTime.wSecond, 19);
    }
}

TEST_F(NmeaSentenceTest, RmcDateYearsAndShortFields) {
    Feed("GPRMC,123519,A,,,,,,,230394,,");
    EXPECT_EQ(block.utcTime.wYear, 2094);
    block.utcTime.wDayOfWeek = 4;
    Feed("GPRMC,12351,A,,,,,,,23039,,"); // under six characters: time and date kept
    EXPECT_EQ(block.utcTime.wHour, 12);
    EXPECT_EQ(block.utcTime.wSecond, 19);
    EXPECT_EQ(block.utcTime.wYear, 2094);
    EXPECT_EQ(block.utcTime.wDayOfWeek, 4) << "NMEA does not touch the day of week";
    EXPECT_EQ(block.rmcCount, 2);
}

TEST_F(NmeaSentenceTest, RmcStatusDecidesValidityAndSpeedCourse) {
    Feed("GPRMC,123519,A,,,,,022.4,084.4,230313,,");
    port.timeSynced = 1;
    Feed("GPRMC,123520,V,,,,,001.0,001.0,230313,,");
    EXPECT_EQ(block.fixValid, 0);
    EXPECT_EQ(port.timeSynced, 0) << "loss of fix allows the next clock setting";
    EXPECT_FLOAT_EQ(block.speedKnots, 22.4f) << "void fixes leave speed and course";
    EXPECT_EQ(block.utcTime.wSecond, 20) << "time is taken whatever the status";
    port.timeSynced = 1;
    Feed("GPRMC,123521,V,,,,,,,230313,,");
    EXPECT_EQ(port.timeSynced, 1) << "only a V after a valid fix clears it";
    block.rmcCount = INT32_MAX;
    Feed("GPRMC,123522,,,,,,3.5,,230313,,"); // an empty status is not "V"
    EXPECT_EQ(block.rmcCount, INT32_MIN) << "the count wraps";
    EXPECT_EQ(block.fixValid, 1);
    EXPECT_FLOAT_EQ(block.speedKnots, 3.5f);
    EXPECT_EQ(block.course, 0.0f);
}

TEST_F(NmeaSentenceTest, DbtStoresFeetAndMetres) {
    Feed("SDDBT,0012.6,f,0003.8,M,0002.1,F");
    EXPECT_FLOAT_EQ(block.depthFeet, 12.6f);
    EXPECT_FLOAT_EQ(block.depthMetres, 3.8f);
}

TEST_F(NmeaSentenceTest, MtkRepliesFillTheirFieldsAndFlags) {
    Feed("PMTK500,1000,0,0,0,0");
    EXPECT_EQ(block.fixInterval, 1000);
    EXPECT_EQ(block.replyFlags, replyFixInterval);

    memset(block.nmeaRates, 9, sizeof block.nmeaRates);
    Feed("PMTK514,0,1,0,1,1,5");
    const uint8_t rates[19] = {0, 1, 0, 1, 1, 5};
    EXPECT_EQ(memcmp(block.nmeaRates, rates, 19), 0) << "missing rates become 0";
    EXPECT_EQ(block.replyFlags, replyFixInterval | replyNmeaRates);

    Feed("PMTK707,28,1511,518400,1512,,-7");
    const int32_t epo[9] = {28, 1511, 518400, 1512, 0, -7, 0, 0, 0};
    EXPECT_EQ(memcmp(block.epoStatus, epo, sizeof epo), 0);
    EXPECT_EQ(block.replyFlags, 7);

    const GpsSharedStatus before = block;
    Feed("PMTK501,1"); // other numbers of a known code
    Feed("PMTK001,604,3");
    Feed("PMTK7070,1");                          // 7070 is not 707
    Feed("PM,1");                                // address too short for a code
    Feed("GPGLL,4916.45,N,12311.12,W,225444,A"); // sentences the hub does not decode
    EXPECT_EQ(memcmp(&before, &block, sizeof before), 0);
}

TEST_F(NmeaSentenceTest, OverlongAndOddNumbersStayDefined) {
    Feed("GPGGA,,,,,,99999999999,-3000000000,,nan,,1e400,,0x1A,99999999999999999999");
    EXPECT_EQ(block.fixQuality, static_cast<int32_t>(99999999999 & 0xFFFFFFFF));
    EXPECT_EQ(block.satsUsed, static_cast<uint8_t>(-3000000000LL & 0xFF));
    EXPECT_TRUE(isinf(block.geoidSeparation));
    EXPECT_FLOAT_EQ(block.dgpsAge, 26.0f) << "atof reads hexadecimal";
    EXPECT_EQ(block.dgpsStation, -1) << "strtol saturates, the low 32 bits are kept";
}

} // namespace
} // namespace tavro::testing
