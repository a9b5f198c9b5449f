// gps-sim tracking several constellations: its sky, and what its sentences give a hub that
// decodes them with "Multi GNSS" on.
#include "tools/gps-sim/GnssReports.h"
#include "tools/gps-sim/DriveScenario.h"
#include "tools/gps-sim/NmeaReports.h"

#include "common/SatelliteIds.h"
#include "hub/decode/ParseFrame.h"
#include "tests/decode/FakeParserHost.h"
#include "tests/tools/SentenceCheck.h"

#include <gtest/gtest.h>

#include <set>

namespace tavro::gpssim {
namespace {

constexpr int64_t start = 1700000000000LL;
constexpr uint32_t allSystems = SystemBit(SkySystem::Gps) | SystemBit(SkySystem::Glonass) |
                                SystemBit(SkySystem::Galileo) | SystemBit(SkySystem::BeiDou);

DriveSettings Settings(uint32_t systems) {
    DriveSettings settings;
    settings.seed = 5;
    settings.startUtcMs = start;
    settings.systems = systems;
    return settings;
}

TEST(GnssScenario, EachConstellationHasItsOwnSkyAndGpsKeepsItsOwn) {
    const DriveScenario gps(Settings(gpsOnly));
    const DriveScenario all(Settings(allSystems));
    for (int minute = 0; minute < 120; minute += 13) {
        const FixSnapshot one = gps.At(start + minute * 60000LL);
        const FixSnapshot four = all.At(start + minute * 60000LL);
        std::vector<SatelliteView> gpsPart;
        std::set<std::pair<int, int>> seen;
        int ofSystem[skySystemCount] = {};
        for (const SatelliteView& satellite : four.satellites) {
            EXPECT_TRUE(seen.insert({static_cast<int>(satellite.system), satellite.prn}).second)
                << "each satellite once";
            ++ofSystem[static_cast<int>(satellite.system)];
            if (satellite.system == SkySystem::Gps) {
                gpsPart.push_back(satellite);
            }
        }
        for (const int count : ofSystem) {
            EXPECT_GE(count, 4);
            EXPECT_LE(count, 12);
        }
        ASSERT_EQ(gpsPart.size(), one.satellites.size());
        for (size_t i = 0; i < gpsPart.size(); ++i) {
            EXPECT_EQ(gpsPart[i].prn, one.satellites[i].prn);
            EXPECT_EQ(gpsPart[i].snr, one.satellites[i].snr);
        }
        EXPECT_EQ(four.latitude, one.latitude);
    }
}

TEST(GnssReports, AHubReadsTheWholeSkyFromThem) {
    const DriveScenario all(Settings(allSystems));
    const FixSnapshot fix = all.At(start + 600000);
    const std::vector<std::string> sentences =
        GnssEpochSentences(fix, multiGnssSentenceRates, 0, allSystems);
    // As a u-blox sends them by default: VTG after the RMC, GLL after the GSVs.
    ASSERT_GE(sentences.size(), 3u);
    EXPECT_EQ(sentences[1].substr(0, 7), "$GNVTG,");
    EXPECT_EQ(sentences.back().substr(0, 7), "$GNGLL,");
    tavro::testing::FakeParserHost hub;
    for (int epoch = 0; epoch < 2; ++epoch) {
        for (const std::string& sentence : sentences) {
            EXPECT_TRUE(testing::ChecksumHolds(sentence)) << sentence;
            std::vector<uint8_t> frame(sentence.begin(), sentence.end());
            frame.push_back(0);
            ParseFrame(hub, frame.data(), static_cast<uint32_t>(sentence.size()), false);
        }
    }
    const GpsSharedStatus& block = hub.block;
    EXPECT_EQ(block.satsUsed, UsedCount(fix)) << "beyond the GGA's 12";
    EXPECT_GT(UsedCount(fix), 12);
    EXPECT_EQ(block.satsInView, fix.satellites.size());
    EXPECT_EQ(block.fixState, 3);
    EXPECT_NEAR(block.latitude, fix.latitude, 1e-5);
    std::set<Constellation> shown;
    for (int k = 0; k < 12; ++k) {
        shown.insert(ConstellationOf(block.satellites[k].prn));
        EXPECT_TRUE(EntryUsed(block.usedEntries, k)) << "more used than places: all used";
    }
    EXPECT_EQ(shown.size(), 4u) << "GPS, GLONASS, Galileo and BeiDou";
    // NMEA 4.11: the navigational status ends RMC, the system id each GSA, the signal id
    // each GSV.
    EXPECT_EQ(sentences[0].substr(0, 7), "$GNRMC,");
    EXPECT_EQ(testing::Fields(sentences[0]).back(), "V");
    for (const std::string& sentence : sentences) {
        const std::string type = sentence.substr(3, 3);
        if (type == "GSA" || type == "GSV") {
            const std::vector<std::string> fields = testing::Fields(sentence);
            EXPECT_EQ(fields.back().size(), 1u) << sentence;
        }
    }
}

} // namespace
} // namespace tavro::gpssim
