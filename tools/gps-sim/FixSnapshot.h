// What the simulated receiver knows at one fix: the record between the scenario and the
// sentence formatting.
#pragma once

#include <stdint.h>
#include <vector>

namespace tavro::gpssim {

enum class FixMode : uint8_t { None, Fix2D, Fix3D };

// The constellations the receiver can track; a set of them is a bit mask of these values.
enum class SkySystem : uint8_t { Gps, Glonass, Galileo, BeiDou };
inline constexpr int skySystemCount = 4;
constexpr uint32_t SystemBit(SkySystem system) {
    return 1u << static_cast<uint32_t>(system);
}
inline constexpr uint32_t gpsOnly = SystemBit(SkySystem::Gps);

struct SatelliteView {
    SkySystem system = SkySystem::Gps;
    int prn = 0;       // as its talker numbers it: GPS 1-32, GLONASS 65-96, Galileo 1-36,
                       // BeiDou 1-63
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
    // In view, at most 12 per constellation; by constellation (GPS first), then by number.
    std::vector<SatelliteView> satellites;
};

inline int UsedCount(const FixSnapshot& fix) {
    int used = 0;
    for (const SatelliteView& satellite : fix.satellites) {
        used += satellite.used ? 1 : 0;
    }
    return used;
}

} // namespace tavro::gpssim
