// The built-in scenario: a vehicle driving a closed route around its start point, stopping at
// each corner, seen by a plausible GPS constellation. Everything is a function of the time
// asked for, so the same seed and time always give the same fix.
#pragma once

#include "tools/gps-sim/FixSnapshot.h"

#include <stdint.h>
#include <vector>

namespace tavro::gpssim {

struct DriveSettings {
    double startLatitude = 48.1173;
    double startLongitude = 11.5167;
    uint32_t seed = 1;
    FixMode fix = FixMode::Fix3D;
    int64_t startUtcMs = 0;     // when the vehicle sets off from the start point
    uint32_t systems = gpsOnly; // SystemBit()s of the constellations tracked
};

class DriveScenario {
public:
    explicit DriveScenario(const DriveSettings& settings);

    FixSnapshot At(int64_t utcMs) const;

    // One lap: its length in metres and its duration in seconds (stops included).
    double LapLength() const { return lapLength_; }
    double LapSeconds() const { return lapSeconds_; }

private:
    struct Leg {
        double east = 0; // start of the leg, metres from the start point
        double north = 0;
        double length = 0;
        double bearing = 0; // radians from north, clockwise
        double cruise = 0;  // m/s
        double accelSeconds = 0;
        double cruiseSeconds = 0;
        double seconds = 0; // driving and the stop at its end
        double startDistance = 0;
    };
    struct Orbit {
        SkySystem system = SkySystem::Gps;
        int prn = 0;
        double phase = 0;        // radians at time 0; visible while the phase is in (0, pi)
        double maxElevation = 0; // degrees
        double azimuth = 0;      // degrees at rise
        double period = 0;       // seconds per orbit
    };

    void Where(double lapTime, double& east, double& north, double& speed, double& bearing,
               double& distance) const;
    // The satellites of `system` in view, highest first, at most 12.
    std::vector<SatelliteView> Sky(int64_t utcMs, SkySystem system) const;

    DriveSettings settings_;
    std::vector<Leg> legs_;
    std::vector<Orbit> orbits_;
    double lapLength_ = 0;
    double lapSeconds_ = 0;
    double baseAltitude_ = 0;
};

// Dilutions of precision of `satellites` marked used (3D: east, north, up and clock; 2D with
// known height: east, north and clock). Leaves 99.99 where the geometry gives no solution.
void ComputeDop(const std::vector<SatelliteView>& satellites, bool threeD, double& pdop,
                double& hdop, double& vdop);

} // namespace tavro::gpssim
