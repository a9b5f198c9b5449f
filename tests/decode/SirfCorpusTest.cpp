// The SiRF binary recordings of the corpus, cut as the input port cuts them and decoded frame
// by frame; checked against the corpus table of raw message fields and against the reference
// decoder's reports.
#include "tests/decode/CorpusSupport.h"
#include "tests/decode/FakeParserHost.h"
#include "tests/decode/TestFrames.h"
#include "tests/support/Corpus.h"

#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <time.h>

#include <map>

namespace tavro::testing {
namespace {

const char* const recordings[] = {"bu303-climbing", "bu303-moving", "bu303-nofix", "bu303-stillfix",
                                  "bu303b-nofix",   "sirf2",        "sirfstarv",   "ublox-sirf1"};

constexpr size_t bytesPerTick = 192; // 38400 baud, 50 ms

// One row of vectors/sirf_frames.tsv.
struct Row {
    int mid = 0;
    size_t payloadLength = 0;
    std::string fields;
    long Int(const char* key) const {
        const auto text = TsvMember(fields, key);
        return text ? strtol(text->c_str(), nullptr, 0) : 0;
    }
};

std::map<std::string, std::map<size_t, Row>> ReadFrameTable() {
    std::map<std::string, std::map<size_t, Row>> table;
    for (const std::string& line : Lines(ReadFile(CorpusDir() + "/vectors/sirf_frames.tsv"))) {
        const std::vector<std::string> columns = Split(line, '\t');
        if (columns.size() < 6 || line[0] == '#' || columns[0] == "file") {
            continue;
        }
        Row row{atoi(columns[2].c_str()), static_cast<size_t>(atoi(columns[3].c_str())),
                columns[5]};
        table[columns[0].substr(0, columns[0].size() - 4)][std::stoul(columns[1])] = row;
    }
    return table;
}

// Close to the exact decimal within what a float with single-precision constants holds.
bool WithinFloat(double ours, double exact) {
    return fabs(ours - exact) <= fabs(exact) * 0x1p-23 + 1e-12;
}

std::string Iso(const SystemTime& t) {
    char text[64];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay,
             t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

// UTC as the hub derives it: weeks from 1999-08-22 00:00:00, GPS time less 14 s. Computed
// here with the C library's calendar.
std::string ExpectedTrackerTime(long week, long hundredths, int* dayOfWeek) {
    const time_t seconds = 935280000 + week * 604800 + hundredths / 100 - 14;
    tm t{};
    gmtime_r(&seconds, &t);
    *dayOfWeek = t.tm_wday;
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", t.tm_year + 1900,
             t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, hundredths % 100 * 10);
    return text;
}

struct Tally {
    std::map<std::string, int> checked;
    std::map<std::string, int> excused;
    void Check(const char* what, bool agrees, const std::string& detail) {
        ++checked[what];
        EXPECT_TRUE(agrees) << what << ": " << detail;
    }
};

void CompareWithRow(Tally& t, const Row& row, const GpsSharedStatus& b, double& heldLatitude,
                    double& heldLongitude, const std::string& where) {
    if (row.mid == 2) {
        t.Check("MID 2 satellites in the fix", b.satsInView == row.Int("nsv"), where);
    } else if (row.mid == 4) {
        int dayOfWeek = 0;
        const std::string time =
            ExpectedTrackerTime(row.Int("week"), row.Int("tow_cs"), &dayOfWeek);
        t.Check("MID 4 time", Iso(b.utcTime) == time && b.utcTime.wDayOfWeek == dayOfWeek,
                "ours " + Iso(b.utcTime) + " expected " + time + where);
        const long channels = row.Int("chans");
        for (long i = 0; i < channels && i < 12; ++i) {
            const auto channel = TsvMember(row.fields, "ch" + std::to_string(i + 1));
            ASSERT_TRUE(channel.has_value()) << where;
            int prn = 0, az = 0, el = 0, state = 0, cno = 0;
            ASSERT_EQ(sscanf(channel->c_str(), "prn:%d,az_raw:%d,el_raw:%d,state:%x,cno:%d", &prn,
                             &az, &el, &state, &cno),
                      5);
            const SatelliteEntry& e = b.satellites[i];
            t.Check("MID 4 channel",
                    e.prn == prn && e.azimuth == static_cast<int>(az / 0.67) &&
                        e.elevation == el / 2 && e.snr == cno,
                    "channel " + std::to_string(i) + " " + *channel + where);
        }
    } else if (row.mid == 41) {
        t.Check("MID 41 validity", b.fixValid == (row.Int("nav_valid") == 0 ? 1 : 0), where);
        const int fix[8] = {1, 2, 2, 2, 3, 2, 3, 3};
        t.Check("MID 41 fix state", b.fixState == fix[row.Int("nav_type") & 7], where);
        t.Check("MID 41 altitude", WithinFloat(b.altitude, row.Int("alt_ellipsoid_cm") / 100.0),
                where);
        const double knots = row.Int("sog_cm_s") * 0.01944;
        const double expectedSpeed = knots < 2.9 ? 0.0 : knots;
        t.Check("MID 41 speed", WithinFloat(b.speedKnots, expectedSpeed), where);
        if (expectedSpeed > 0) {
            t.Check("MID 41 course", WithinFloat(b.course, row.Int("cog_cdeg") / 100.0), where);
        }
        if (expectedSpeed > 0 || heldLatitude == 0) {
            heldLatitude = row.Int("lat_e7") * 1e-7;
            heldLongitude = row.Int("lon_e7") * 1e-7;
        }
        t.Check("MID 41 position",
                WithinFloat(b.latitude, heldLatitude) && WithinFloat(b.longitude, heldLongitude),
                where);
        t.Check("MID 41 satellites used", b.satsUsed == row.Int("nsv"), where);
        t.Check("MID 41 HDOP", WithinFloat(b.hdop, row.Int("hdop_raw") * 0.2), where);
    }
}

TEST(SirfCorpus, FramesAsThePortCutsThemDecodeLikeTheTable) {
    TAVRO_NEEDS_CORPUS();
    const auto table = ReadFrameTable();
    Tally t;
    for (const char* name : recordings) {
        const std::string log = ReadFile(CorpusDir() + "/gpsd/sirf/" + name + ".log");
        ASSERT_FALSE(log.empty()) << name;
        const auto rows = table.find(name);
        ASSERT_NE(rows, table.end()) << name;
        const size_t header = HeaderLength(log);
        FakeParserHost port;
        port.sirfMode = 1;
        double heldLatitude = 0, heldLongitude = 0;
        size_t decodedRows = 0;
        for (const CutFrame& frame :
             CutLikePoll(std::string_view(log).substr(header), bytesPerTick)) {
            const uint8_t errorsBefore = port.checksumErrors;
            Parse(port, frame.bytes);
            const auto row = rows->second.find(header + frame.offset);
            const bool complete =
                row != rows->second.end() && frame.bytes.size() >= row->second.payloadLength + 6;
            const std::string where =
                std::string("\n  ") + name + " offset " + std::to_string(header + frame.offset);
            if (complete) {
                t.Check("complete frame accepted", port.checksumErrors == 0, where);
                CompareWithRow(t, row->second, port.block, heldLatitude, heldLongitude, where);
                ++decodedRows;
            } else if (row != rows->second.end()) {
                // A 0xB3 inside a frame (length, payload, checksum) must not end it.
                t.Check("frame kept whole", false, where);
            } else {
                t.Check("fragment ignored", port.checksumErrors == errorsBefore, where);
            }
        }
        printf("  %-16s %zu of %zu frames decoded\n", name, decodedRows, rows->second.size());
        EXPECT_EQ(decodedRows, rows->second.size()) << name;
    }
    for (const auto& [what, count] : t.checked) {
        printf("  checked %6d  %s\n", count, what.c_str());
    }
    for (const auto& [why, count] : t.excused) {
        printf("  excused %6d  %s\n", count, why.c_str());
    }
}

// Seconds since 1970 of an ISO 8601 UTC time with milliseconds, in milliseconds.
int64_t Milliseconds(const std::string& iso) {
    tm t{};
    int ms = 0;
    if (sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
               &t.tm_min, &t.tm_sec, &ms) != 7) {
        return -1;
    }
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<int64_t>(timegm(&t)) * 1000 + ms;
}

TEST(SirfCorpus, AgreesWithTheReferenceDecoder) {
    TAVRO_NEEDS_CORPUS();
    Tally t;
    for (const char* name : recordings) {
        const std::string base = CorpusDir() + "/gpsd/sirf/" + name + ".log";
        const std::string log = ReadFile(base);
        std::vector<int64_t> referenceTimes;
        std::vector<std::pair<double, double>> referencePositions;
        std::vector<std::string> skies;
        for (const std::string& line : Lines(ReadFile(base + ".chk"))) {
            if (const auto time = JsonString(line, "time")) {
                referenceTimes.push_back(Milliseconds(*time));
            }
            const auto lat = JsonNumber(line, "lat");
            const auto lon = JsonNumber(line, "lon");
            if (lat && lon) {
                referencePositions.emplace_back(*lat, *lon);
            }
            if (line.find("\"satellites\"") != std::string::npos) {
                skies.push_back(line);
            }
        }
        ASSERT_FALSE(referenceTimes.empty()) << name;
        FakeParserHost port;
        port.sirfMode = 1;
        for (const CutFrame& frame :
             CutLikePoll(std::string_view(log).substr(HeaderLength(log)), bytesPerTick)) {
            Parse(port, frame.bytes);
            if (port.checksumErrors != 0 || frame.bytes.size() < 5) {
                continue;
            }
            const GpsSharedStatus& b = port.block;
            const uint8_t mid = static_cast<uint8_t>(frame.bytes[4]);
            if (mid == 4) {
                // The reference takes 18 leap seconds, the hub a fixed 14; and it unrolls the
                // 10-bit week of receivers past the 2019 rollover, which the hub counts from
                // 1999. So its time is ours less 4 s, plus 1024 weeks for those receivers.
                const int64_t ours = Milliseconds(Iso(b.utcTime)) - 4000;
                const int64_t epoch = 1024LL * 604800 * 1000;
                bool found = false;
                for (int64_t reference : referenceTimes) {
                    found = found || reference == ours || reference == ours + epoch;
                }
                t.Check("MID 4 time, reference less 4 s", found, Iso(b.utcTime) + " " + name);
                // The reference's satellites come from this message alone only in ublox-sirf1;
                // it shows azimuth as raw x 1.5 and elevation in half degrees.
                for (const std::string& sky : skies) {
                    const auto time = JsonString(sky, "time");
                    if (std::string(name) != "ublox-sirf1" || !time ||
                        Milliseconds(*time) != ours) {
                        continue;
                    }
                    const auto satellites = JsonObjects(sky, "satellites");
                    for (size_t i = 0; i < satellites.size() && i < 12; ++i) {
                        const SatelliteEntry& e = b.satellites[i];
                        const double raw = JsonNumber(satellites[i], "az").value_or(-1) / 1.5;
                        t.Check("MID 4 satellite in a report",
                                JsonNumber(satellites[i], "PRN") == e.prn &&
                                    floor(JsonNumber(satellites[i], "el").value_or(-1)) ==
                                        e.elevation &&
                                    static_cast<int>(raw / 0.67) == e.azimuth,
                                std::string(satellites[i]));
                    }
                }
            }
            if (mid == 41) {
                // Every position the message carries, not only those the hub keeps: decoded
                // into a fresh block, which always takes the first one.
                FakeParserHost fresh;
                fresh.sirfMode = 1;
                Parse(fresh, frame.bytes);
                const GpsSharedStatus& f = fresh.block;
                // sirfstarv's reports carry the MID 41 position itself; the others report the
                // MID 2 (ECEF) position, up to 7.6e-6 degrees away from the MID 41 one.
                const bool own = std::string(name) == "sirfstarv";
                double nearest = 1e9;
                for (const auto& [lat, lon] : referencePositions) {
                    nearest = std::min(nearest,
                                       std::max(fabs(lat - f.latitude), fabs(lon - f.longitude)));
                }
                const double tolerance = own ? fabs(f.longitude) * 0x1p-23 : 1e-5;
                if (f.latitude == 0 && f.longitude == 0) {
                    ++t.excused["MID 41 without a position yet"];
                } else if (f.fixValid == 0) {
                    ++t.excused["MID 41 position of an invalid fix: not reported by the reference"];
                } else {
                    t.Check(own ? "MID 41 position in a report" : "MID 41 position near MID 2's",
                            nearest <= tolerance, std::to_string(nearest) + " " + name);
                }
            }
        }
    }
    for (const auto& [what, count] : t.checked) {
        printf("  checked %6d  %s\n", count, what.c_str());
    }
    for (const auto& [why, count] : t.excused) {
        printf("  excused %6d  %s\n", count, why.c_str());
    }
}

} // namespace
} // namespace tavro::testing
