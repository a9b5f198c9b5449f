// gpsd's regression logs as the measure of the decoder. The few kept in the tree
// (tests/data/gpsd) end as recorded in expected.tsv, with "Multi GNSS" on and off; every log of
// the set named by TAVRO_GPSD_LOGS ends as gpsd's does, or as its explanation says.
#include "tests/decode/GpsdLogs.h"
#include "tests/decode/CorpusSupport.h"

#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace tavro::testing {
namespace {

// Positions agree within this many degrees (about 10 cm): one fix, which a receiver writes
// with five decimals of minutes in one sentence and four in another (8.3e-7 degrees).
constexpr double positionTolerance = 1e-6;

// Ours as of gpsd's last position report. gpsd reports an epoch when it has ended, so where a
// log ends inside an epoch its last report is of the epoch before: ours is then taken at the
// end of that epoch (`earlier`).
std::pair<double, double> OursAtGpsdsEpoch(const HubEnding& ours, const GpsdEnding& gpsd,
                                           bool& earlier) {
    const auto& epochs = ours.epochPositions;
    earlier = false;
    if (gpsd.timeOfDay >= 0 && !epochs.empty() && epochs.rbegin()->first > gpsd.timeOfDay) {
        if (const auto found = epochs.find(gpsd.timeOfDay); found != epochs.end()) {
            earlier =
                found->second != std::make_pair(ours.precise.latitude, ours.precise.longitude);
            return found->second;
        }
    }
    return {ours.precise.latitude, ours.precise.longitude};
}

std::string PositionVerdict(const HubEnding& ours, const GpsdEnding& gpsd) {
    if (!gpsd.latitude) {
        return ours.precise.hasPosition ? "extra" : "none";
    }
    if (!ours.precise.hasPosition) {
        return "missing";
    }
    bool earlier = false;
    const auto [latitude, longitude] = OursAtGpsdsEpoch(ours, gpsd, earlier);
    const bool agrees = fabs(latitude - *gpsd.latitude) <= positionTolerance &&
                        fabs(longitude - *gpsd.longitude) <= positionTolerance;
    return std::string(agrees ? "agrees" : "DIFFERS") + (earlier ? "*" : "");
}

std::string InViewVerdict(const HubEnding& ours, const GpsdEnding& gpsd) {
    if (!gpsd.inView) {
        return ours.block.satsInView == 0 ? "none" : "extra";
    }
    if (ours.block.satsInView == *gpsd.inView) {
        return "agrees";
    }
    return gpsd.listsSignals && ours.block.satsInView == gpsd.satellitesListed ? "signals"
                                                                               : "DIFFERS";
}

std::string ValidityVerdict(const HubEnding& ours, const GpsdEnding& gpsd) {
    const bool fix = ours.block.fixState == static_cast<uint8_t>(FixState::Fix2D) ||
                     ours.block.fixState == static_cast<uint8_t>(FixState::Fix3D);
    return fix == (gpsd.mode >= 2) ? "agrees" : "DIFFERS";
}

bool Disagrees(const std::string& verdict) {
    return verdict.rfind("DIFFERS", 0) == 0 || verdict == "missing" || verdict == "extra";
}

// The disagreements with gpsd there are, and why: the hub's choice, gpsd's, or the log's.
struct Explained {
    const char* log;
    const char* what; // "position" or "satellites in view"
    const char* why;
};
constexpr const char* simulator =
    "a Garmin in simulator mode: RMC says V (not valid), GGA quality 8; the hub takes no "
    "position its receiver marks not valid, gpsd reports a simulated fix";
constexpr const char* allAzimuthsZero =
    "every satellite at azimuth 0: gpsd drops such a sky (its workaround for a SiRF II fault), "
    "the hub counts what the receiver lists";
constexpr const char* ubxSky = "gpsd's sky comes from the receiver's u-blox binary messages";
const Explained explained[] = {
    {"GPSmap-76S", "position", simulator},
    {"garmin-geko201", "position", simulator},
    {"ublox8-uniqid-monhw", "position",
     "gpsd's last position comes from the receiver's u-blox binary messages (UBX), which the "
     "hub does not decode; its last NMEA fix is 4 s older"},
    {"ublox8-uniqid-monhw", "satellites in view", ubxSky},
    {"ublox-zed-f9r", "satellites in view", ubxSky},
    {"jl-micro-jlt", "satellites in view",
     "GPS and Galileo GSVs come in different seconds: gpsd counts the last cycle's 8 Galileo "
     "satellites alone, the hub both constellations (21)"},
    {"st-teseo-liv4f", "satellites in view",
     "its hand-made tail repeats the sky reports without a fix sentence between: the hub "
     "reads them as one epoch (26 satellites), gpsd the last report (18, in 47 signals)"},
    {"skytraq", "satellites in view", allAzimuthsZero},
    {"tn200", "satellites in view", allAzimuthsZero},
    {"tn200-all", "satellites in view", allAzimuthsZero},
};

const Explained* Explanation(const std::string& log, const std::string& what) {
    for (const Explained& entry : explained) {
        if (log == entry.log && what == entry.what) {
            return &entry;
        }
    }
    return nullptr;
}

// The folder of the logs kept in the tree.
const std::string inTree = std::string(TAVRO_TEST_DATA_DIR) + "/gpsd";

// Each log kept in the tree, with "Multi GNSS" on and off, ends as expected.tsv records it.
// TAVRO_WRITE_EXPECTED=1 writes the file anew from what the decoder makes of them.
TEST(GpsdLogs, TheLogsInTheTreeEndAsRecorded) {
    const std::vector<std::string> names = GpsdLogNames(inTree);
    ASSERT_GE(names.size(), 10u) << inTree;
    std::string rows;
    for (const std::string& name : names) {
        const std::string log = ReadFile(inTree + "/" + name + ".log");
        for (const bool multiGnss : {true, false}) {
            rows += EndingRow(name, multiGnss, PlayGpsdLog(log, multiGnss)) + "\n";
        }
    }
    const std::string path = inTree + "/expected.tsv";
    const std::string header = "# log\tMulti GNSS\tlatitude longitude\taltitude\tin view\t"
                               "used\tfix state\tfixValid\tUTC\tchecksum errors\n";
    if (const char* write = getenv("TAVRO_WRITE_EXPECTED"); write != nullptr && *write == '1') {
        FILE* file = fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr) << path;
        fputs((header + rows).c_str(), file);
        fclose(file);
        GTEST_SKIP() << "wrote " << path;
    }
    const std::vector<std::string> expected = Lines(ReadFile(path));
    const std::vector<std::string> ours = Lines(header + rows);
    ASSERT_FALSE(expected.empty()) << path;
    EXPECT_EQ(ours.size(), expected.size());
    for (size_t i = 0; i < ours.size() && i < expected.size(); ++i) {
        EXPECT_EQ(ours[i], expected[i]);
    }
}

// Every NMEA log of gpsd's set (IsNmeaLog) played through the decoder with "Multi GNSS" on: the
// last position, the satellites in view and the fix against gpsd's last reports, as a table;
// every disagreement must be one explained above, and no log may end Invalid for a line that
// is no sentence.
TEST(GpsdLogs, EndingsAgreeWithGpsd) {
    const char* folder = getenv("TAVRO_GPSD_LOGS");
    if (folder == nullptr || *folder == '\0') {
        GTEST_SKIP() << "set TAVRO_GPSD_LOGS to gpsd's test/daemon folder to play its logs";
    }
    const std::vector<std::string> names = GpsdLogNames(folder);
    ASSERT_FALSE(names.empty()) << "no .log files in " << folder;
    std::map<std::string, std::map<std::string, int>> summary;
    std::map<std::string, int> used; // explanations that were needed
    int nmeaLogs = 0;
    printf("%-30s %-9s %-8s %-8s %4s %4s %5s %s\n", "log", "position", "in view", "fix", "ours",
           "gpsd", "state", "ends Invalid by");
    for (const std::string& name : names) {
        const std::string log = ReadFile(std::string(folder) + "/" + name + ".log");
        if (!IsNmeaLog(log)) {
            continue;
        }
        ++nmeaLogs;
        const HubEnding ours = PlayGpsdLog(log);
        const GpsdEnding gpsd =
            ReadGpsdEnding(ReadFile(std::string(folder) + "/" + name + ".log.chk"));
        const std::string verdicts[] = {PositionVerdict(ours, gpsd), InViewVerdict(ours, gpsd)};
        const char* const what[] = {"position", "satellites in view"};
        const std::string validity = ValidityVerdict(ours, gpsd);
        const bool invalid = ours.block.fixState == static_cast<uint8_t>(FixState::Invalid);
        const std::string cause = invalid ? InvalidCause(ours.invalidBy) : "";
        printf("%-30s %-9s %-8s %-8s %4d %4d %5d %s\n", name.c_str(), verdicts[0].c_str(),
               verdicts[1].c_str(), validity.c_str(), ours.block.satsInView,
               gpsd.inView.value_or(-1), ours.block.fixState, cause.c_str());
        for (int i = 0; i < 2; ++i) {
            ++summary[what[i]][verdicts[i]];
            if (!Disagrees(verdicts[i])) {
                continue;
            }
            const Explained* why = Explanation(name, what[i]);
            if (why != nullptr) {
                ++used[name + what[i]];
                printf("    %s\n", why->why);
            } else {
                ADD_FAILURE() << name << ": " << what[i] << " " << verdicts[i]
                              << " without explanation";
            }
        }
        if (verdicts[0].rfind("DIFFERS", 0) == 0) {
            printf("    ours %.9f %.9f, gpsd %.9f %.9f\n", ours.precise.latitude,
                   ours.precise.longitude, *gpsd.latitude, *gpsd.longitude);
        }
        ++summary["fix"][validity];
        if (invalid) {
            ++summary["ends Invalid"][cause];
            EXPECT_NE(cause, "not a sentence") << name << ": " << ours.invalidBy;
        }
    }
    printf("%d NMEA logs (* compared at gpsd's last reported epoch, the log ending inside the "
           "next)\n",
           nmeaLogs);
    for (const auto& [kind, counts] : summary) {
        printf("  %-20s", kind.c_str());
        for (const auto& [verdict, count] : counts) {
            printf(" %s %d", verdict.c_str(), count);
        }
        printf("\n");
    }
    for (const Explained& entry : explained) {
        EXPECT_EQ(used.count(std::string(entry.log) + entry.what), 1u)
            << entry.log << ": " << entry.what << " agrees now; its explanation goes";
    }
    int positions = 0;
    for (const auto& [verdict, count] : summary["position"]) {
        positions += Disagrees(verdict) ? count : 0;
    }
    EXPECT_LE(positions, 3) << "last positions that differ from gpsd's";
}

} // namespace
} // namespace tavro::testing
