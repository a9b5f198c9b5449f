#include "tools/gps-sim/DriveScenario.h"

#include "tools/gps-sim/Random.h"

#include <algorithm>
#include <cmath>

namespace tavro::gpssim {
namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double degrees = pi / 180.0;
constexpr double earthRadius = 6378137.0; // WGS-84 equatorial, metres
constexpr double acceleration = 1.5;      // m/s^2, a calm driver
constexpr double stopSeconds = 4.0;       // at every corner
constexpr double orbitSeconds = 43082.0;  // half a sidereal day, as GPS satellites
constexpr double metresPerSecondToKnots = 3600.0 / 1852.0;
constexpr int cornerCount = 6;
constexpr int constellationSize = 24;
constexpr size_t maxInView = 12; // per constellation: three GSV messages

// The other constellations' satellites, numbered as their talkers number them, with their own
// orbital periods (sidereal half days for GPS, 8/17 for GLONASS, 10/17 for Galileo; BeiDou's
// medium orbits about as Galileo's).
struct SystemSky {
    SkySystem system;
    int firstPrn;
    int prnCount;
    int satellites;
    double orbitSeconds;
};
constexpr SystemSky otherSystems[] = {
    {SkySystem::Glonass, 65, 24, 24, 40544.0},
    {SkySystem::Galileo, 1, 36, 24, 50680.0},
    {SkySystem::BeiDou, 1, 37, 27, 46404.0},
};
constexpr double minimumElevation = 5.0;

// Least-squares geometry: Q = (G^T G)^-1 for the unit vectors of the used satellites.
// Returns false when the matrix is singular.
bool Covariance(const std::vector<SatelliteView>& satellites, bool threeD, double q[4][4]) {
    const int columns = threeD ? 4 : 3;
    double normal[4][8] = {};
    for (const SatelliteView& satellite : satellites) {
        if (!satellite.used) {
            continue;
        }
        const double el = satellite.elevation * degrees;
        const double az = satellite.azimuth * degrees;
        double row[4] = {-std::cos(el) * std::sin(az), -std::cos(el) * std::cos(az), 1.0, 0.0};
        if (threeD) {
            row[2] = -std::sin(el);
            row[3] = 1.0;
        }
        for (int i = 0; i < columns; ++i) {
            for (int j = 0; j < columns; ++j) {
                normal[i][j] += row[i] * row[j];
            }
        }
    }
    for (int i = 0; i < columns; ++i) {
        normal[i][columns + i] = 1.0;
    }
    // Gauss-Jordan with partial pivoting on [N | I].
    for (int column = 0; column < columns; ++column) {
        int pivot = column;
        for (int row = column + 1; row < columns; ++row) {
            if (std::fabs(normal[row][column]) > std::fabs(normal[pivot][column])) {
                pivot = row;
            }
        }
        if (std::fabs(normal[pivot][column]) < 1e-9) {
            return false;
        }
        std::swap(normal[pivot], normal[column]);
        const double divisor = normal[column][column];
        for (int j = 0; j < 2 * columns; ++j) {
            normal[column][j] /= divisor;
        }
        for (int row = 0; row < columns; ++row) {
            if (row == column) {
                continue;
            }
            const double factor = normal[row][column];
            for (int j = 0; j < 2 * columns; ++j) {
                normal[row][j] -= factor * normal[column][j];
            }
        }
    }
    for (int i = 0; i < columns; ++i) {
        for (int j = 0; j < columns; ++j) {
            q[i][j] = normal[i][columns + j];
        }
    }
    return true;
}

double Clamp(double value, double low, double high) {
    return std::min(std::max(value, low), high);
}

} // namespace

void ComputeDop(const std::vector<SatelliteView>& satellites, bool threeD, double& pdop,
                double& hdop, double& vdop) {
    pdop = hdop = vdop = 99.99;
    double q[4][4] = {};
    const int used = static_cast<int>(std::count_if(satellites.begin(), satellites.end(),
                                                    [](const SatelliteView& s) { return s.used; }));
    if (used < (threeD ? 4 : 3) || !Covariance(satellites, threeD, q)) {
        return;
    }
    hdop = Clamp(std::sqrt(std::max(0.0, q[0][0] + q[1][1])), 0.5, 99.99);
    if (threeD) {
        vdop = Clamp(std::sqrt(std::max(0.0, q[2][2])), 0.5, 99.99);
        pdop = Clamp(std::sqrt(std::max(0.0, q[0][0] + q[1][1] + q[2][2])), 0.5, 99.99);
    } else {
        pdop = hdop;
    }
}

DriveScenario::DriveScenario(const DriveSettings& settings) : settings_(settings) {
    Random random(settings.seed);
    // Corners on a rough circle whose western point is the start.
    const double radius = random.Uniform(600.0, 1200.0);
    double cornerEast[cornerCount + 1];
    double cornerNorth[cornerCount + 1];
    cornerEast[0] = cornerNorth[0] = 0.0;
    for (int k = 1; k < cornerCount; ++k) {
        const double angle = (180.0 - 360.0 * k / cornerCount + random.Uniform(-15, 15)) * degrees;
        const double r = radius * random.Uniform(0.8, 1.2);
        cornerEast[k] = radius + r * std::cos(angle);
        cornerNorth[k] = r * std::sin(angle);
    }
    cornerEast[cornerCount] = cornerNorth[cornerCount] = 0.0;

    for (int k = 0; k < cornerCount; ++k) {
        Leg leg;
        leg.east = cornerEast[k];
        leg.north = cornerNorth[k];
        const double de = cornerEast[k + 1] - cornerEast[k];
        const double dn = cornerNorth[k + 1] - cornerNorth[k];
        leg.length = std::hypot(de, dn);
        leg.bearing = std::atan2(de, dn);
        if (leg.bearing < 0) {
            leg.bearing += 2 * pi;
        }
        leg.cruise = random.Uniform(8.0, 17.0); // 29..61 km/h
        if (leg.length < leg.cruise * leg.cruise / acceleration) {
            leg.cruise = std::sqrt(acceleration * leg.length); // never reaches cruise speed
        }
        leg.accelSeconds = leg.cruise / acceleration;
        leg.cruiseSeconds =
            (leg.length - leg.cruise * leg.cruise / acceleration) / std::max(leg.cruise, 0.1);
        leg.seconds = 2 * leg.accelSeconds + leg.cruiseSeconds + stopSeconds;
        leg.startDistance = lapLength_;
        lapLength_ += leg.length;
        lapSeconds_ += leg.seconds;
        legs_.push_back(leg);
    }
    baseAltitude_ = random.Uniform(150.0, 650.0);

    // The constellation: 24 distinct PRNs of 1..32, phases spread so that about half are up.
    int prns[32];
    for (int i = 0; i < 32; ++i) {
        prns[i] = i + 1;
    }
    for (int i = 31; i > 0; --i) {
        std::swap(prns[i], prns[random.Below(static_cast<uint32_t>(i + 1))]);
    }
    for (int i = 0; i < constellationSize; ++i) {
        Orbit orbit;
        orbit.prn = prns[i];
        orbit.phase = 2 * pi * i / constellationSize + random.Uniform(-0.1, 0.1);
        orbit.maxElevation = random.Uniform(25.0, 88.0);
        orbit.azimuth = random.Uniform(0.0, 360.0);
        orbit.period = orbitSeconds;
        orbits_.push_back(orbit);
    }
    // Other constellations from generators of their own: the GPS sky of a seed stays the same
    // whatever else is tracked.
    for (const SystemSky& sky : otherSystems) {
        if ((settings.systems & SystemBit(sky.system)) == 0) {
            continue;
        }
        Random own(settings.seed * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(sky.system));
        // Consecutive numbers from a seeded start, each once.
        const int firstPrn =
            sky.firstPrn +
            static_cast<int>(own.Below(static_cast<uint32_t>(sky.prnCount - sky.satellites + 1)));
        for (int i = 0; i < sky.satellites; ++i) {
            Orbit orbit;
            orbit.system = sky.system;
            orbit.prn = firstPrn + i;
            orbit.phase = 2 * pi * i / sky.satellites + own.Uniform(-0.1, 0.1);
            orbit.maxElevation = own.Uniform(25.0, 88.0);
            orbit.azimuth = own.Uniform(0.0, 360.0);
            orbit.period = sky.orbitSeconds;
            orbits_.push_back(orbit);
        }
    }
}

void DriveScenario::Where(double lapTime, double& east, double& north, double& speed,
                          double& bearing, double& distance) const {
    for (const Leg& leg : legs_) {
        if (lapTime >= leg.seconds) {
            lapTime -= leg.seconds;
            continue;
        }
        const double a = acceleration;
        const double t1 = leg.accelSeconds;
        const double t2 = t1 + leg.cruiseSeconds;
        const double t3 = t2 + leg.accelSeconds;
        double along = 0;
        if (lapTime < t1) {
            along = a * lapTime * lapTime / 2;
            speed = a * lapTime;
        } else if (lapTime < t2) {
            along = leg.cruise * t1 / 2 + leg.cruise * (lapTime - t1);
            speed = leg.cruise;
        } else if (lapTime < t3) {
            const double braking = lapTime - t2;
            along = leg.cruise * t1 / 2 + leg.cruise * leg.cruiseSeconds + leg.cruise * braking -
                    a * braking * braking / 2;
            speed = leg.cruise - a * braking;
        } else {
            along = leg.length;
            speed = 0;
        }
        along = std::min(along, leg.length);
        east = leg.east + along * std::sin(leg.bearing);
        north = leg.north + along * std::cos(leg.bearing);
        bearing = leg.bearing;
        distance = leg.startDistance + along;
        return;
    }
    east = north = speed = distance = 0;
    bearing = legs_.empty() ? 0 : legs_.front().bearing;
}

std::vector<SatelliteView> DriveScenario::Sky(int64_t utcMs, SkySystem system) const {
    const double seconds = static_cast<double>(utcMs) / 1000.0;
    std::vector<SatelliteView> sky;
    for (const Orbit& orbit : orbits_) {
        if (orbit.system != system) {
            continue;
        }
        double phase = std::fmod(orbit.phase + 2 * pi * seconds / orbit.period, 2 * pi);
        if (phase < 0) {
            phase += 2 * pi;
        }
        const double elevation = orbit.maxElevation * std::sin(phase);
        if (elevation < minimumElevation) {
            continue;
        }
        SatelliteView view;
        view.system = orbit.system;
        view.prn = orbit.prn;
        view.elevation = static_cast<int>(std::lround(elevation));
        // Rises on one side and sets on the other, 180 degrees round.
        view.azimuth = static_cast<int>(std::lround(orbit.azimuth + phase / pi * 180.0)) % 360;
        const double ripple =
            3.0 * std::sin(seconds / 37.0 + orbit.prn + 7 * static_cast<int>(orbit.system));
        view.snr = static_cast<int>(std::lround(Clamp(20.0 + 0.3 * elevation + ripple, 12, 50)));
        sky.push_back(view);
    }
    std::sort(sky.begin(), sky.end(), [](const SatelliteView& a, const SatelliteView& b) {
        return a.elevation > b.elevation;
    });
    if (sky.size() > maxInView) {
        sky.resize(maxInView);
    }
    return sky;
}

FixSnapshot DriveScenario::At(int64_t utcMs) const {
    FixSnapshot fix;
    fix.utcMs = utcMs;
    fix.fix = settings_.fix;
    // Each constellation's sky, highest first: GPS's before the others.
    for (int s = 0; s < skySystemCount; ++s) {
        const auto system = static_cast<SkySystem>(s);
        if ((settings_.systems & SystemBit(system)) != 0 || system == SkySystem::Gps) {
            std::vector<SatelliteView> sky = Sky(utcMs, system);
            fix.satellites.insert(fix.satellites.end(), sky.begin(), sky.end());
        }
    }

    // Which satellites make the fix: the strong ones well above the horizon, up to twelve of
    // each constellation; 2D uses three in all.
    const size_t wanted = settings_.fix == FixMode::Fix3D   ? maxInView
                          : settings_.fix == FixMode::Fix2D ? 3
                                                            : 0;
    size_t used = 0;
    size_t usedOfSystem[skySystemCount] = {};
    for (SatelliteView& satellite : fix.satellites) {
        if (settings_.fix == FixMode::None) {
            satellite.snr = std::min(satellite.snr, 18); // indoors: weak, nothing usable
        }
        size_t& ofSystem = usedOfSystem[static_cast<int>(satellite.system)];
        const size_t counted = settings_.fix == FixMode::Fix3D ? ofSystem : used;
        satellite.used = counted < wanted && satellite.elevation >= 10 && satellite.snr >= 25;
        used += satellite.used ? 1 : 0;
        ofSystem += satellite.used ? 1 : 0;
    }
    // A fix needs its minimum of satellites; take the highest of the weaker ones if short.
    const size_t minimum = settings_.fix == FixMode::Fix3D ? 4 : wanted;
    for (SatelliteView& satellite : fix.satellites) {
        if (used >= minimum) {
            break;
        }
        if (!satellite.used) {
            satellite.used = true;
            ++used;
        }
    }
    std::sort(fix.satellites.begin(), fix.satellites.end(),
              [](const SatelliteView& a, const SatelliteView& b) {
                  return a.system != b.system ? a.system < b.system : a.prn < b.prn;
              });
    if (settings_.fix != FixMode::None) {
        ComputeDop(fix.satellites, settings_.fix == FixMode::Fix3D, fix.pdop, fix.hdop, fix.vdop);
    }

    double lapTime = std::fmod(static_cast<double>(utcMs - settings_.startUtcMs) / 1000.0,
                               lapSeconds_ > 0 ? lapSeconds_ : 1.0);
    if (lapTime < 0) {
        lapTime += lapSeconds_;
    }
    double east = 0, north = 0, speed = 0, bearing = 0, distance = 0;
    Where(lapTime, east, north, speed, bearing, distance);
    // A metre or two of wander, as a real fix has, repeatable for a given second.
    const uint64_t second = static_cast<uint64_t>(utcMs / 1000);
    east += 1.2 * HashNoise(settings_.seed, second * 2);
    north += 1.2 * HashNoise(settings_.seed, second * 2 + 1);

    const double latitude0 = settings_.startLatitude * degrees;
    fix.latitude = settings_.startLatitude + north / earthRadius / degrees;
    fix.longitude = settings_.startLongitude + east / (earthRadius * std::cos(latitude0)) / degrees;
    if (fix.longitude > 180.0) {
        fix.longitude -= 360.0;
    } else if (fix.longitude < -180.0) {
        fix.longitude += 360.0;
    }
    fix.altitude = baseAltitude_ + 12.0 * std::sin(2 * pi * distance / std::max(lapLength_, 1.0));
    fix.geoidSeparation = 47.0;
    fix.speedKnots = speed * metresPerSecondToKnots;
    fix.course = bearing / degrees;
    return fix;
}

} // namespace tavro::gpssim
