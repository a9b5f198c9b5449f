// The built-in drive: plausible, repeatable, moving.
#include "tools/gps-sim/DriveScenario.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace tavro::gpssim {
namespace {

constexpr double pi = 3.14159265358979323846;
constexpr int64_t start = 1700000000000; // 2023-11-14 22:13:20 UTC

// Great-circle distance in metres.
double Distance(double lat1, double lon1, double lat2, double lon2) {
    const double r = 6371000.0;
    const double p1 = lat1 * pi / 180, p2 = lat2 * pi / 180;
    const double dp = p2 - p1, dl = (lon2 - lon1) * pi / 180;
    const double a = std::sin(dp / 2) * std::sin(dp / 2) +
                     std::cos(p1) * std::cos(p2) * std::sin(dl / 2) * std::sin(dl / 2);
    return 2 * r * std::asin(std::sqrt(a));
}

DriveSettings Settings(uint32_t seed, FixMode fix = FixMode::Fix3D) {
    DriveSettings settings;
    settings.seed = seed;
    settings.fix = fix;
    settings.startUtcMs = start;
    return settings;
}

TEST(DriveScenario, ALapIsAPlausibleDriveFromTheStartBackToIt) {
    for (uint32_t seed : {1u, 2u, 77u}) {
        SCOPED_TRACE(seed);
        const DriveScenario drive(Settings(seed));
        EXPECT_GT(drive.LapLength(), 2000.0);
        EXPECT_LT(drive.LapLength(), 15000.0);
        // Between 6 and 70 km/h on average, stops included.
        EXPECT_GT(drive.LapLength() / drive.LapSeconds(), 6 / 3.6);
        EXPECT_LT(drive.LapLength() / drive.LapSeconds(), 70 / 3.6);

        const FixSnapshot first = drive.At(start);
        EXPECT_LT(Distance(first.latitude, first.longitude, 48.1173, 11.5167), 5.0);
        EXPECT_NEAR(first.speedKnots, 0.0, 1e-9);

        FixSnapshot previous = first;
        double furthest = 0;
        bool moved = false;
        bool stopped = false;
        const int lap = static_cast<int>(drive.LapSeconds());
        for (int second = 1; second <= lap; ++second) {
            const FixSnapshot fix = drive.At(start + second * 1000);
            ASSERT_EQ(fix.utcMs, start + second * 1000);
            const double step =
                Distance(previous.latitude, previous.longitude, fix.latitude, fix.longitude);
            // What it travelled matches what it reports, give or take the fix's wander.
            const double reported = (previous.speedKnots + fix.speedKnots) / 2 * 1852 / 3600;
            EXPECT_NEAR(step, reported, 4.5) << "second " << second;
            EXPECT_LE(fix.speedKnots, 17 * 3600.0 / 1852 + 1e-6);
            EXPECT_GE(fix.course, 0.0);
            EXPECT_LT(fix.course, 360.0);
            EXPECT_GT(fix.altitude, 100.0);
            EXPECT_LT(fix.altitude, 700.0);
            furthest = std::max(furthest, Distance(48.1173, 11.5167, fix.latitude, fix.longitude));
            moved = moved || fix.speedKnots > 10;
            stopped = stopped || (second > 10 && fix.speedKnots == 0);
            previous = fix;
        }
        EXPECT_TRUE(moved);
        EXPECT_TRUE(stopped) << "it stops at corners";
        EXPECT_GT(furthest, 500.0);
        EXPECT_LT(furthest, 3000.0);
        const FixSnapshot again = drive.At(start + static_cast<int64_t>(drive.LapSeconds() * 1000));
        EXPECT_LT(Distance(again.latitude, again.longitude, 48.1173, 11.5167), 5.0)
            << "a lap ends where it began";
    }
}

TEST(DriveScenario, TheSkyIsAPlausibleGpsSky) {
    const DriveScenario drive(Settings(5));
    for (int minute = 0; minute < 24 * 60; minute += 37) {
        const FixSnapshot fix = drive.At(start + int64_t{minute} * 60000);
        SCOPED_TRACE(minute);
        ASSERT_GE(fix.satellites.size(), 4u);
        ASSERT_LE(fix.satellites.size(), 12u);
        std::set<int> prns;
        int used = 0;
        for (const SatelliteView& satellite : fix.satellites) {
            EXPECT_GE(satellite.prn, 1);
            EXPECT_LE(satellite.prn, 32);
            EXPECT_TRUE(prns.insert(satellite.prn).second) << "PRN listed twice";
            EXPECT_GE(satellite.elevation, 5);
            EXPECT_LE(satellite.elevation, 90);
            EXPECT_GE(satellite.azimuth, 0);
            EXPECT_LT(satellite.azimuth, 360);
            EXPECT_GE(satellite.snr, 12);
            EXPECT_LE(satellite.snr, 50);
            used += satellite.used ? 1 : 0;
        }
        EXPECT_GE(used, 4);
        EXPECT_EQ(used, UsedCount(fix));
        EXPECT_GE(fix.hdop, 0.5);
        EXPECT_LT(fix.hdop, 10.0);
        EXPECT_LE(fix.hdop, fix.pdop);
        EXPECT_LE(fix.vdop, fix.pdop);
        EXPECT_NEAR(fix.pdop * fix.pdop, fix.hdop * fix.hdop + fix.vdop * fix.vdop, 0.05);
    }
}

TEST(DriveScenario, SatellitesMoveSlowly) {
    const DriveScenario drive(Settings(9));
    const FixSnapshot now = drive.At(start);
    const FixSnapshot later = drive.At(start + 60000);
    int compared = 0;
    for (const SatelliteView& a : now.satellites) {
        for (const SatelliteView& b : later.satellites) {
            if (a.prn == b.prn) {
                EXPECT_LE(std::abs(a.elevation - b.elevation), 2);
                ++compared;
            }
        }
    }
    EXPECT_GE(compared, 4);
}

TEST(DriveScenario, FixModesUseTheRightNumberOfSatellites) {
    const FixSnapshot twoD = DriveScenario(Settings(3, FixMode::Fix2D)).At(start + 5000);
    EXPECT_EQ(UsedCount(twoD), 3);
    EXPECT_LT(twoD.hdop, 99.0);
    const FixSnapshot none = DriveScenario(Settings(3, FixMode::None)).At(start + 5000);
    EXPECT_EQ(UsedCount(none), 0);
    EXPECT_FALSE(none.satellites.empty()) << "satellites are still in view";
    for (const SatelliteView& satellite : none.satellites) {
        EXPECT_LE(satellite.snr, 18);
    }
}

TEST(DriveScenario, TheSameSeedGivesTheSameDrive) {
    const DriveScenario a(Settings(11));
    const DriveScenario b(Settings(11));
    const DriveScenario c(Settings(12));
    const FixSnapshot fa = a.At(start + 123000);
    const FixSnapshot fb = b.At(start + 123000);
    const FixSnapshot fc = c.At(start + 123000);
    EXPECT_EQ(fa.latitude, fb.latitude);
    EXPECT_EQ(fa.longitude, fb.longitude);
    EXPECT_EQ(fa.satellites.size(), fb.satellites.size());
    EXPECT_NE(fa.latitude, fc.latitude);
    EXPECT_NE(a.LapLength(), c.LapLength());
}

TEST(DriveScenario, StartsAnywhereOnEarth) {
    DriveSettings settings = Settings(4);
    settings.startLatitude = -33.8688;
    settings.startLongitude = 179.999;
    const DriveScenario drive(settings);
    for (int second = 0; second < 600; second += 7) {
        const FixSnapshot fix = drive.At(start + second * 1000);
        EXPECT_LE(std::fabs(fix.longitude), 180.0);
        EXPECT_LT(fix.latitude, -33.8);
        EXPECT_GT(fix.latitude, -33.95);
    }
}

TEST(ComputeDop, MatchesAWorkedGeometry) {
    // One satellite overhead and three on the horizon 120 degrees apart: with unit vectors
    // e_i, Q = (G^T G)^-1 gives HDOP = VDOP = sqrt(4/3) and PDOP = sqrt(8/3).
    std::vector<SatelliteView> sky(4);
    sky[0].elevation = 90;
    for (int i = 1; i < 4; ++i) {
        sky[i].elevation = 0;
        sky[i].azimuth = (i - 1) * 120;
    }
    for (SatelliteView& satellite : sky) {
        satellite.used = true;
    }
    double pdop = 0, hdop = 0, vdop = 0;
    ComputeDop(sky, true, pdop, hdop, vdop);
    EXPECT_NEAR(hdop, std::sqrt(4.0 / 3.0), 1e-6);
    EXPECT_NEAR(vdop, std::sqrt(4.0 / 3.0), 1e-6);
    EXPECT_NEAR(pdop, std::sqrt(8.0 / 3.0), 1e-6);

    // All in one direction: no solution.
    for (SatelliteView& satellite : sky) {
        satellite.elevation = 30;
        satellite.azimuth = 40;
    }
    ComputeDop(sky, true, pdop, hdop, vdop);
    EXPECT_EQ(pdop, 99.99);
    // Too few.
    sky.resize(3);
    ComputeDop(sky, true, pdop, hdop, vdop);
    EXPECT_EQ(hdop, 99.99);
}

} // namespace
} // namespace tavro::gpssim
