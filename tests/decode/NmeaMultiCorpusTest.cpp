// The multi-constellation recordings with "Multi GNSS" on, against the reference decoder epoch
// by epoch: position and altitude after each GGA, time, speed and course after each RMC, the
// fix state after each GSA, and after the last GSV of an epoch the satellites: how many are in
// view and used, and every table entry with its place in the reference's sky.
#include "common/SatelliteIds.h"
#include "tests/decode/CorpusSupport.h"
#include "tests/decode/FakeParserHost.h"
#include "tests/decode/TestFrames.h"
#include "tests/support/Corpus.h"

#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>

namespace tavro::testing {
namespace {

const char* const captures[] = {"neo-m8n", "ublox-neo-m9n-nmea", "quectel-l76k-nmea",
                                "st-teseo-liv3f", "unicore-um621"};

constexpr size_t bytesPerTick = 192;
// The reference replays its recordings at 38400 baud: 3.84 bytes per millisecond.
constexpr double bytesPerMs = 3.84;

bool WithinFloat(double ours, double reference, double printedHalfUnit) {
    return fabs(ours - reference) <= fabs(reference) * 0x1p-24 + printedHalfUnit + 1e-12;
}

std::string Describe(double ours, double reference) {
    char text[80];
    snprintf(text, sizeof text, "ours %.9f, reference %.9f", ours, reference);
    return text;
}

// Days from 1970-01-01 of a Gregorian date.
int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// The block's time and the reference's ISO text as milliseconds since 1970.
int64_t BlockMs(const SystemTime& t) {
    return ((DaysFromCivil(t.wYear, t.wMonth, t.wDay) * 24 + t.wHour) * 60 + t.wMinute) * 60000 +
           t.wSecond * 1000 + t.wMilliseconds;
}
int64_t IsoMs(const std::string& iso) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &y, &mo, &d, &h, &mi, &s, &ms);
    return ((DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 24 + h) * 60 +
            mi) *
               60000 +
           s * 1000 + ms;
}

// "hhmmss.sss" in milliseconds into the day; -1 without a time.
int64_t TimeOfDay(const std::string& field) {
    if (field.size() < 6) {
        return -1;
    }
    const double seconds = atof(field.c_str() + 4);
    return (atoi(field.substr(0, 2).c_str()) * 60 + atoi(field.substr(2, 2).c_str())) * 60000 +
           llround(seconds * 1000);
}

struct SkySatellite {
    int prn = 0;
    int elevation = 0;
    int azimuth = 0;
    int snr = 0;
    bool used = false;
};

// The reference's satellites, one per PRN (it lists a satellite once per signal): the
// strongest signal, used when any signal is.
std::map<int, SkySatellite> Sky(std::string_view report) {
    std::map<int, SkySatellite> sky;
    for (const std::string_view object : JsonObjects(report, "satellites")) {
        const int prn = static_cast<int>(JsonNumber(object, "PRN").value_or(0));
        SkySatellite& satellite = sky[prn];
        satellite.prn = prn;
        satellite.elevation = static_cast<int>(JsonNumber(object, "el").value_or(0));
        satellite.azimuth = static_cast<int>(JsonNumber(object, "az").value_or(0));
        satellite.snr =
            std::max(satellite.snr, static_cast<int>(JsonNumber(object, "ss").value_or(0)));
        satellite.used = satellite.used || object.find("\"used\":true") != std::string_view::npos;
    }
    return sky;
}

// The block after the last GSV of an epoch against the reference's sky of that epoch.
void CompareSky(Comparison& c, const GpsSharedStatus& b, uint8_t lastFixSats,
                const std::string& report, const std::string& context) {
    const std::map<int, SkySatellite> sky = Sky(report);
    const auto inView = static_cast<int>(sky.size());
    c.Check("satellites in view, all constellations", b.satsInView == inView,
            Describe(b.satsInView, inView) + context);

    int used = 0;
    for (const auto& [prn, satellite] : sky) {
        used += satellite.used ? 1 : 0;
    }
    if (lastFixSats > used) {
        c.Excuse("the GGA counts more satellites than the GSAs list");
    } else {
        c.Check("satellites used, all constellations", b.satsUsed == used,
                Describe(b.satsUsed, used) + context);
    }

    // The table: the twelve satellites used first, then strongest, then lowest id.
    std::vector<SkySatellite> ranked;
    for (const auto& [prn, satellite] : sky) {
        ranked.push_back(satellite);
    }
    std::sort(ranked.begin(), ranked.end(), [](const SkySatellite& x, const SkySatellite& y) {
        return x.used != y.used ? x.used : x.snr != y.snr ? x.snr > y.snr : x.prn < y.prn;
    });
    std::vector<int> expected;
    for (size_t i = 0; i < ranked.size() && i < 12; ++i) {
        expected.push_back(ranked[i].prn);
    }
    std::vector<int> ours;
    for (int k = 0; k < 12; ++k) {
        const SatelliteEntry& entry = b.satellites[k];
        if (entry.prn == 0) {
            continue;
        }
        ours.push_back(entry.prn);
        const auto found = sky.find(entry.prn);
        char detail[160];
        snprintf(detail, sizeof detail, "entry %d: %d/%d/%d/%d used %d", k, entry.prn,
                 entry.elevation, entry.azimuth, entry.snr, EntryUsed(b.usedEntries, k));
        c.Check("table entry as the reference sees it",
                found != sky.end() && found->second.elevation == entry.elevation &&
                    found->second.azimuth == entry.azimuth && found->second.snr == entry.snr &&
                    found->second.used == EntryUsed(b.usedEntries, k),
                detail + context);
        c.Check("table entry has a known constellation",
                ConstellationOf(entry.prn) != Constellation::Unknown, detail + context);
    }
    std::sort(expected.begin(), expected.end());
    std::sort(ours.begin(), ours.end());
    c.Check("table holds the used, then the strongest", ours == expected, context);

    int fitting = 0;
    for (const auto& [prn, satellite] : sky) {
        fitting += satellite.used && prn <= 255 ? 1 : 0;
    }
    int listed = 0;
    for (const uint8_t prn : b.usedPrns) {
        if (prn != 0) {
            ++listed;
            const auto found = sky.find(prn);
            c.Check("usedPrns names used satellites", found != sky.end() && found->second.used,
                    std::to_string(prn) + context);
        }
    }
    c.Check("usedPrns holds every used id that fits, up to 12", listed == std::min(fitting, 12),
            Describe(listed, std::min(fitting, 12)) + context);
}

TEST(NmeaMultiCorpus, CapturesMatchTheReferenceEpochByEpoch) {
    TAVRO_NEEDS_CORPUS();
    std::map<std::string, int> checked;
    for (const char* name : captures) {
        const std::string base = CorpusDir() + "/gpsd/nmea/" + name + ".log";
        const std::string log = ReadFile(base);
        const std::vector<std::string> reference = Lines(ReadFile(base + ".chk"));
        ASSERT_FALSE(log.empty()) << base;
        ASSERT_FALSE(reference.empty()) << base;

        FakeParserHost port;
        Comparison c(name);
        size_t next = 0;
        std::string pendingSky; // the reference's last sky of the GSVs so far
        GpsSharedStatus skyBlock{};
        bool firstSky = true;
        int64_t ggaTime = -1; // of the last GGA, milliseconds into the day
        bool ggaFix = false;
        int64_t rmcTime = -1; // of the last RMC with a valid fix
        const std::string_view data = std::string_view(log).substr(HeaderLength(log));
        for (const CutFrame& frame : CutLikePoll(data, bytesPerTick)) {
            port.tick = static_cast<uint32_t>(static_cast<double>(frame.offset) / bytesPerMs);
            Parse(port, frame.bytes);
            std::string text = frame.bytes;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
                text.pop_back();
            }
            const std::vector<std::string> f = Split(text.substr(0, text.find('*')), ',');
            const std::string code = f[0].size() >= 6 ? f[0].substr(3, 3) : "";
            auto field = [&](size_t i) { return i < f.size() ? f[i] : std::string(); };
            const std::string context = "\n  after " + text;

            if (code != "GSV" && !pendingSky.empty()) {
                if (firstSky) {
                    c.Excuse("first epoch: its GSVs began before the recording");
                } else {
                    // The table is made when the GSVs are over: as this sentence found it.
                    GpsSharedStatus sky = port.block;
                    sky.satsUsed = skyBlock.satsUsed;
                    memcpy(sky.usedPrns, skyBlock.usedPrns, sizeof sky.usedPrns);
                    CompareSky(c, sky, port.gnss.lastFixSats, pendingSky, context);
                }
                firstSky = false;
                pendingSky.clear();
            }
            while (next < reference.size() && reference[next][0] != '$') {
                ++next;
            }
            if (port.checksumErrors != 0) {
                continue; // the reference does not echo it either (checked below)
            }
            if (code == "GGA") {
                ggaTime = TimeOfDay(field(1));
                ggaFix = atoi(field(6).c_str()) > 0;
            }
            if (code == "RMC") {
                rmcTime = field(2) == "A" ? TimeOfDay(field(1)) : -1;
            }
            ASSERT_LT(next, reference.size()) << name << ": accepted but not echoed: " << text;
            ASSERT_EQ(reference[next], text) << name;
            for (++next; next < reference.size() && reference[next][0] != '$'; ++next) {
                const std::string& report = reference[next];
                const bool tpv = report.find("\"class\":\"TPV\"") != std::string::npos;
                const auto number = [&](const char* key) { return JsonNumber(report, key); };
                const GpsSharedStatus& b = port.block;
                // The reference reports a cycle's position and time once it has seen the
                // cycle (after the GGA, the RMC or a later sentence): compared where its time
                // is the time of the last GGA or RMC.
                const auto time = tpv ? JsonString(report, "time") : std::nullopt;
                const int64_t timeOfDay = time ? IsoMs(*time) % 86400000 : -1;
                if (time && timeOfDay == ggaTime && ggaFix && b.fixValid) {
                    if (const auto lat = number("lat")) {
                        c.Check("latitude", WithinFloat(b.latitude, *lat, 1e-7 + 5e-10),
                                Describe(b.latitude, *lat) + context);
                        c.Check("longitude", WithinFloat(b.longitude, *number("lon"), 1e-7 + 5e-10),
                                Describe(b.longitude, *number("lon")) + context);
                    }
                    if (const auto alt = number("altMSL")) {
                        c.Check("altitude", WithinFloat(b.altitude, *alt, 5e-5),
                                Describe(b.altitude, *alt) + context);
                    }
                }
                if (time && timeOfDay == rmcTime) {
                    const int64_t difference = IsoMs(*time) - BlockMs(b.utcTime);
                    // For some dates of two-digit years the reference guesses a GPS week
                    // rollover and reports the date 1024 weeks on.
                    const int64_t rollover = int64_t{1024} * 7 * 86400000;
                    if (difference == rollover) {
                        c.Excuse("reference date 1024 weeks on: its week rollover guess");
                    }
                    c.Check("time", difference == 0 || difference == rollover,
                            *time + " vs " + std::to_string(BlockMs(b.utcTime)) + context);
                    if (const auto speed = number("speed")) {
                        c.Check("speed", WithinFloat(b.speedKnots * 1852.0 / 3600.0, *speed, 5e-4),
                                Describe(b.speedKnots * 1852.0 / 3600.0, *speed) + context);
                    }
                }
                if (time && (timeOfDay == ggaTime || timeOfDay == rmcTime)) {
                    // The block's fix state follows GSA and GGA only: an RMC leaves it as it
                    // was, and a GGA without a fix after a fix makes it Invalid.
                    const auto mode = number("mode");
                    if (mode && *mode == 3 && b.fixState == 2) {
                        c.Excuse("2D fix that the reference promotes to 3D");
                    } else if (mode && code == "RMC" && *mode != b.fixState) {
                        c.Excuse("RMC: the reference's mode, the block's still that of GGA/GSA");
                    } else if (mode && *mode == 1 && b.fixState == 5) {
                        c.Excuse("no fix after a fix: Invalid in the block");
                    } else if (mode) {
                        c.Check("fix state", b.fixState == *mode,
                                Describe(b.fixState, *mode) + context);
                    }
                }
                if (code == "GSV" && report.find("\"satellites\"") != std::string::npos) {
                    pendingSky = report;
                    skyBlock = b;
                }
            }
        }
        for (; next < reference.size(); ++next) {
            EXPECT_NE(reference[next][0], '$') << name << ": echoed but not accepted";
        }
        // Every kind of comparison happened on every recording, epoch after epoch.
        for (const char* what :
             {"latitude", "altitude", "time", "fix state", "satellites in view, all constellations",
              "satellites used, all constellations", "table entry as the reference sees it",
              "table holds the used, then the strongest",
              "usedPrns holds every used id that "
              "fits, up to 12"}) {
            EXPECT_GE(c.Checks(what), 10) << name << ": " << what;
        }
        for (const auto& [what, count] : c.Checked()) {
            checked[what] += count;
        }
        for (const auto& [why, count] : c.Excused()) {
            printf("  %-20s excused %5d  %s\n", name, count, why.c_str());
        }
    }
    for (const auto& [what, count] : checked) {
        printf("  checked %6d  %s\n", count, what.c_str());
    }
}

} // namespace
} // namespace tavro::testing
