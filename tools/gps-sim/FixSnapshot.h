// What the simulated receiver knows at one fix: the record between the scenario and the
// sentence formatting.
#pragma once

#include <stdint.h>
#include <vector>

namespace tavro::gpssim {

enum class FixMode : uint8_t { None, Fix2D, Fix3D };

struct SatelliteView {
    int prn = 0;
    int elevation = 0; // degrees, 0..90
    int azimuth = 0;   // degrees true, 0..359
    int snr = 0;       // dB-Hz; 0 = not tracked
    bool used = false; // part of the fix
};

struct FixSnapshot {
    int64_t utcMs = 0; // milliseconds since 1970-01-01 UTC
    FixMode fix = FixMode::None;
    double latitude = 0;  // degrees, north positive
    double longitude = 0; // degrees, east positive
    double altitude = 0;  // metres above mean sea level
    double geoidSeparation = 0;
    double speedKnots = 0;
    double course = 0; // degrees true
    double pdop = 99.99;
    double hdop = 99.99;
    double vdop = 99.99;
    std::vector<SatelliteView> satellites; // in view, at most 12
};

inline int UsedCount(const FixSnapshot& fix) {
    int used = 0;
    for (const SatelliteView& satellite : fix.satellites) {
        used += satellite.used ? 1 : 0;
    }
    return used;
}

} // namespace tavro::gpssim
