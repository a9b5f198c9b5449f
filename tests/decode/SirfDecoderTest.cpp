// SiRF binary: frame checks and messages 2, 4 and 41.
#include "tests/decode/FakeParserHost.h"
#include "tests/decode/TestFrames.h"

#include <gtest/gtest.h>

#include <string.h>

namespace tavro::testing {
namespace {

void PutBig(std::vector<uint8_t>& p, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        p[at + i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
    }
}

std::vector<uint8_t> Tracker(uint16_t week, uint32_t hundredths, int channels) {
    std::vector<uint8_t> p(8 + 15 * channels);
    p[0] = 4;
    PutBig(p, 1, week, 2);
    PutBig(p, 3, hundredths, 4);
    p[7] = static_cast<uint8_t>(channels);
    for (int i = 0; i < channels; ++i) {
        const size_t b = 8 + 15 * i;
        p[b] = static_cast<uint8_t>(i + 1);
        p[b + 1] = 200; // azimuth in 0.67-degree steps
        p[b + 2] = 91;  // elevation in half degrees
        p[b + 5] = static_cast<uint8_t>(30 + i);
        p[b + 6] = 99; // second C/No value, not used
    }
    return p;
}

struct Geodetic {
    uint16_t navValid = 0;
    uint16_t navType = 4;
    int32_t latitude = 464982046; // 1e-7 degrees
    int32_t longitude = -75680636;
    int32_t altitude = 137561; // cm
    uint16_t speed = 500;      // cm/s
    uint16_t course = 12345;   // 0.01 degrees
    uint8_t satellites = 7;
    uint8_t hdop = 6; // 0.2 units

    std::vector<uint8_t> Payload() const {
        std::vector<uint8_t> p(91);
        p[0] = 41;
        PutBig(p, 1, navValid, 2);
        PutBig(p, 3, navType, 2);
        PutBig(p, 23, static_cast<uint32_t>(latitude), 4);
        PutBig(p, 27, static_cast<uint32_t>(longitude), 4);
        PutBig(p, 31, static_cast<uint32_t>(altitude), 4);
        PutBig(p, 35, 132755, 4); // altitude above mean sea level, not used
        PutBig(p, 40, speed, 2);
        PutBig(p, 42, course, 2);
        p[15] = 12; // 12:34:56.789 UTC
        p[16] = 34;
        PutBig(p, 17, 56789, 2);
        p[88] = satellites;
        p[89] = hdop;
        p[90] = 0x55; // additional mode information, not used
        return p;
    }
};

class SirfDecoderTest : public ::testing::Test {
protected:
    void SetUp() override { port.sirfMode = 1; }
    void Feed(const std::vector<uint8_t>& payload) { Parse(port, SirfFrame(payload)); }
    FakeParserHost port;
    GpsSharedStatus& block = port.block;
};

TEST_F(SirfDecoderTest, TrackerWeekZeroIsTheEveOfTheRollover) {
    Feed(Tracker(0, 0, 0));
    const SystemTime& t = block.utcTime;
    EXPECT_EQ((std::vector<int>{t.wYear, t.wMonth, t.wDay, t.wDayOfWeek, t.wHour, t.wMinute,
                                t.wSecond, t.wMilliseconds}),
              (std::vector<int>{1999, 8, 21, 6, 23, 59, 46, 0}));
}

TEST_F(SirfDecoderTest, TrackerWeek1500AndItsSatellites) {
    Feed(Tracker(1500, 12345678, 3));
    const SystemTime& t = block.utcTime;
    EXPECT_EQ((std::vector<int>{t.wYear, t.wMonth, t.wDay, t.wDayOfWeek, t.wHour, t.wMinute,
                                t.wSecond, t.wMilliseconds}),
              (std::vector<int>{2028, 5, 22, 1, 10, 17, 22, 780}));
    EXPECT_EQ(block.satellites[2].prn, 3);
    EXPECT_EQ(block.satellites[2].azimuth, 298) << "200 / 0.67 = 298.5, truncated";
    EXPECT_EQ(block.satellites[2].elevation, 45);
    EXPECT_EQ(block.satellites[2].snr, 32);
}

TEST_F(SirfDecoderTest, TrackerChannelsBeyondTwelveOrTheCountAreNotTouched) {
    block.satellites[5] = {77, 1, 2, 3};
    block.satsInView = 9;
    Feed(Tracker(100, 0, 5));
    EXPECT_EQ(block.satellites[4].prn, 5);
    EXPECT_EQ(block.satellites[5].prn, 77);
    EXPECT_EQ(block.satsInView, 9);
    Feed(Tracker(100, 0, 18));
    EXPECT_EQ(block.satellites[11].prn, 12);
    // A channel count larger than the payload holds stops at the payload's end.
    std::vector<uint8_t> lying = Tracker(100, 0, 2);
    lying[7] = 12;
    block.satellites[2] = {55, 1, 2, 3};
    Feed(lying);
    EXPECT_EQ(block.satellites[1].prn, 2);
    EXPECT_EQ(block.satellites[2].prn, 55);
}

TEST_F(SirfDecoderTest, GeodeticTakesFixSpeedCourseAndPosition) {
    Geodetic g;
    Feed(g.Payload());
    EXPECT_EQ(block.fixValid, 1);
    EXPECT_EQ(block.fixState, 3);
    EXPECT_FLOAT_EQ(block.altitude, 1375.61f);
    EXPECT_FLOAT_EQ(block.speedKnots, 9.72f);
    EXPECT_FLOAT_EQ(block.course, 123.45f);
    EXPECT_FLOAT_EQ(block.latitude, 46.4982046f);
    EXPECT_FLOAT_EQ(block.longitude, -7.5680636f);
    EXPECT_EQ(block.satsUsed, 7);
    EXPECT_FLOAT_EQ(block.hdop, 1.2f);
    EXPECT_TRUE(port.precise.hasHdop && !port.precise.hasDops) << "HDOP alone";
    const std::pair<bool, int32_t> report{true, (12 * 60 + 34) * 60000 + 56789};
    EXPECT_EQ(port.fixReports, std::vector{report}) << "a fix, with its time";
}

TEST_F(SirfDecoderTest, GeodeticNavigationTypes) {
    const int expected[8] = {1, 2, 2, 2, 3, 2, 3, 3};
    for (uint16_t type = 0; type < 16; ++type) {
        Geodetic g;
        g.navType = static_cast<uint16_t>(0xFF00 | type); // only the low three bits count
        g.navValid = type == 0 ? 0x0001 : 0;
        Feed(g.Payload());
        EXPECT_EQ(block.fixState, expected[type & 7]) << type;
        EXPECT_EQ(block.fixValid, type == 0 ? 0 : 1);
    }
}

TEST_F(SirfDecoderTest, SlowSpeedReadsZeroAndHoldsPositionAndCourse) {
    Geodetic g;
    Feed(g.Payload());
    g.speed = 140; // 2.72 knots
    g.latitude = 1;
    g.course = 1;
    Feed(g.Payload());
    EXPECT_EQ(block.speedKnots, 0.0f);
    EXPECT_FLOAT_EQ(block.course, 123.45f);
    EXPECT_FLOAT_EQ(block.latitude, 46.4982046f);
    g.speed = 149; // 2.897 knots: still standing
    Feed(g.Payload());
    EXPECT_EQ(block.speedKnots, 0.0f);
    g.speed = 150; // 2.916 knots
    Feed(g.Payload());
    EXPECT_FLOAT_EQ(block.speedKnots, 2.916f);
    EXPECT_FLOAT_EQ(block.latitude, 1e-7f);
}

TEST_F(SirfDecoderTest, SlowFirstFixStillStoresAPosition) {
    Geodetic g;
    g.speed = 0;
    Feed(g.Payload());
    EXPECT_FLOAT_EQ(block.latitude, 46.4982046f);
    EXPECT_EQ(block.course, 0.0f);
}

TEST_F(SirfDecoderTest, NavigationMessageGivesSatellitesInTheFix) {
    std::vector<uint8_t> p(41);
    p[0] = 2;
    p[26] = 0xEE; // inside the time of week
    p[28] = 6;
    Feed(p);
    EXPECT_EQ(block.satsInView, 6);
}

TEST_F(SirfDecoderTest, BadOrShortFramesCountAnErrorAndChangeNothingElse) {
    port.optionFlags = optionNmeaFilter;
    block.fixState = 3;
    const GpsSharedStatus before = block;
    std::vector<uint8_t> wrongSum = SirfFrame(Geodetic{}.Payload());
    wrongSum[wrongSum.size() - 3] ^= 1;
    std::vector<uint8_t> cutShort = SirfFrame(Geodetic{}.Payload());
    cutShort.resize(40);
    const std::vector<std::vector<uint8_t>> bad = {
        wrongSum, cutShort, {0xA0, 0xA2, 0x00}, {0xA0, 0xA2, 0x00, 0x01, 41, 0x00}};
    for (size_t i = 0; i < bad.size(); ++i) {
        Parse(port, bad[i]);
        EXPECT_EQ(port.checksumErrors, i + 1);
    }
    EXPECT_EQ(memcmp(&before, &block, sizeof before), 0);
    EXPECT_TRUE(port.relayed.empty());

    // A fragment that does not start with the pair is ignored without counting.
    Parse(port, std::vector<uint8_t>{0xB0, 0xB3});
    EXPECT_EQ(port.checksumErrors, 4u);
    // A checksum with bit 15 set can never match the 15-bit sum.
    std::vector<uint8_t> high = SirfFrame({2});
    high[5] |= 0x80;
    Parse(port, high);
    EXPECT_EQ(port.checksumErrors, 5u);
}

TEST_F(SirfDecoderTest, GoodFramesResetErrorsAndAreRelayedWithTheFilter) {
    port.checksumErrors = 4;
    port.optionFlags = optionNmeaFilter;
    const std::vector<uint8_t> frame = SirfFrame({9, 1, 2});
    Parse(port, frame);
    EXPECT_EQ(port.checksumErrors, 0);
    ASSERT_EQ(port.relayed.size(), 1u);
    EXPECT_EQ(port.relayed[0], std::string(frame.begin(), frame.end()));
    Parse(port, SirfFrame({}));
    EXPECT_EQ(port.relayed.size(), 2u) << "an empty payload is verified and relayed";
}

} // namespace
} // namespace tavro::testing
