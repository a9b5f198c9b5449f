// The NMEA recordings of the corpus, cut as the input port cuts them, decoded frame by frame
// and compared with the reference decoder's output that follows each sentence it accepted.
#include "hub/decode/Talker.h"
#include "tests/decode/CorpusSupport.h"
#include "tests/decode/FakeParserHost.h"
#include "tests/decode/TestFrames.h"
#include "tests/support/Corpus.h"

#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <map>

namespace tavro::testing {
namespace {

const char* const recordings[] = {
    "ais-nmea",     "blumax-gps009",    "bt-q818",        "bundg_zeus_9",
    "eXplorist210", "garmin-geko201",   "garmin17n",      "gp-320fw-2019-04-07-coldboot",
    "mr-350p",      "mt3339",           "mtk-3301",       "mtk-3329",
    "neo-m8n",      "nmea-fuzzy-cases", "quectel-L70",    "saab-r4",
    "sounder",      "telit-he910",      "tnt-revolution",
};

// Receivers that report more than GPS; the others must decode the same with "Multi GNSS" on.
bool MultiConstellation(const std::string& name) {
    return name == "neo-m8n" || name == "nmea-fuzzy-cases";
}

// The input port reads what arrived in one 50 ms tick; the recordings were made at 38400 baud.
constexpr size_t bytesPerTick = 192;

std::string Trimmed(std::string_view frame) {
    while (!frame.empty() && (frame.back() == '\n' || frame.back() == '\r')) {
        frame.remove_suffix(1);
    }
    return std::string(frame);
}

bool TextAfterChecksum(const std::string& text) {
    const size_t star = text.find('*');
    return star != std::string::npos && text.size() > star + 3 &&
           text.find('$', star) == std::string::npos;
}

bool IsSentenceLine(const std::string& line) {
    return !line.empty() && (line[0] == '$' || line[0] == '!');
}

// A 32-bit float holds a value to within half a unit in the last place of its 24-bit
// mantissa; the reference prints rounded decimals.
bool WithinFloat(double ours, double reference, double printedHalfUnit) {
    return fabs(ours - reference) <= fabs(reference) * 0x1p-24 + printedHalfUnit + 1e-12;
}

std::string Iso(const SystemTime& t) {
    char text[64];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay,
             t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

std::string Describe(double ours, double reference) {
    char text[80];
    snprintf(text, sizeof text, "ours %.9f, reference %.9f", ours, reference);
    return text;
}

// Compares the block, just after `sentence` was decoded, with one report the reference wrote
// after the same sentence.
void CompareReport(Comparison& c, const std::vector<std::string>& f, const GpsSharedStatus& b,
                   const std::string& report, const std::string& context, bool completeGroup,
                   const std::string& ggaTime) {
    const std::string code = f[0].size() >= 6 ? f[0].substr(3, 3) : "";
    const bool tpv = report.find("\"class\":\"TPV\"") != std::string::npos;
    const bool sky = report.find("\"class\":\"SKY\"") != std::string::npos;
    auto field = [&](size_t i) { return i < f.size() ? f[i] : std::string(); };
    auto number = [&](const char* key) { return JsonNumber(report, key); };

    if (code == "GGA" && tpv) {
        const bool fix = atoi(field(6).c_str()) > 0;
        if (const auto lat = number("lat"); lat && fix) {
            if (b.fixValid == 0) {
                c.Excuse("GGA position while the last RMC said V: not taken");
            } else {
                const auto lon = number("lon");
                c.Check("GGA latitude", WithinFloat(b.latitude, *lat, 1e-7 + 5e-10),
                        Describe(b.latitude, *lat) + context);
                c.Check("GGA longitude", WithinFloat(b.longitude, *lon, 1e-7 + 5e-10),
                        Describe(b.longitude, *lon) + context);
            }
        }
        if (const auto alt = number("altMSL"); alt && fix && !field(9).empty() && b.fixValid) {
            c.Check("GGA altitude", WithinFloat(b.altitude, *alt, 5e-5),
                    Describe(b.altitude, *alt) + context);
        }
        if (const auto sep = number("geoidSep"); sep && !field(11).empty()) {
            c.Check("GGA geoid separation", WithinFloat(b.geoidSeparation, *sep, 5e-4),
                    Describe(b.geoidSeparation, *sep) + context);
        }
        if (const auto age = number("dgpsAge"); age && !field(13).empty()) {
            c.Check("GGA DGPS age", WithinFloat(b.dgpsAge, *age, 5e-4),
                    Describe(b.dgpsAge, *age) + context);
        }
        if (const auto station = number("dgpsSta"); station && !field(14).empty()) {
            c.Check("GGA DGPS station", b.dgpsStation == *station,
                    Describe(b.dgpsStation, *station) + context);
        }
    }
    if (code == "GSA" && tpv) {
        if (const auto mode = number("mode"); mode && *mode == 3 && b.fixState == 2) {
            // The reference calls a fix 3D when the cycle's GGA had an altitude.
            c.Excuse("GSA 2D fix that the reference promotes to 3D");
        } else if (mode) {
            c.Check("GSA fix mode", b.fixState == *mode, Describe(b.fixState, *mode) + context);
        }
    }
    if (code == "GGA" && sky) {
        if (const auto used = number("uSat"); used && !field(7).empty()) {
            c.Check("GGA satellites used", b.satsUsed == *used,
                    Describe(b.satsUsed, *used) + context);
        }
    }
    if (code == "RMC" && tpv && b.fixValid && ggaTime == "-" + field(1)) {
        c.Excuse("cycle position: its GGA came while the fix was void, so none was taken");
    } else if (code == "RMC" && tpv && b.fixValid && ggaTime == field(1)) {
        // The cycle's position, reported after its RMC: the block holds the cycle's GGA one.
        if (const auto lat = number("lat")) {
            const auto lon = number("lon");
            c.Check("cycle latitude", WithinFloat(b.latitude, *lat, 1e-7 + 5e-10),
                    Describe(b.latitude, *lat) + context);
            c.Check("cycle longitude", WithinFloat(b.longitude, *lon, 1e-7 + 5e-10),
                    Describe(b.longitude, *lon) + context);
        }
    }
    if (code == "GSA" && sky) {
        const char* keys[] = {"pdop", "hdop", "vdop"};
        const float ours[] = {b.pdop, b.hdop, b.vdop};
        for (int i = 0; i < 3; ++i) {
            if (const auto dop = number(keys[i]); dop && !field(15 + i).empty()) {
                c.Check("GSA dilution", WithinFloat(ours[i], *dop, 5e-3),
                        std::string(keys[i]) + " " + Describe(ours[i], *dop) + context);
            }
        }
    }
    if (code == "RMC" && tpv) {
        const auto time = JsonString(report, "time");
        if (time && field(2) == "V") {
            // Receivers report power-up dates while their fix is void; the reference keeps
            // its last valid time, the block shows what was sent.
            c.Excuse("RMC time while the status is V: not used by the reference");
        } else if (time && field(1).size() >= 6 && field(9).size() >= 6) {
            c.Check("RMC time", Iso(b.utcTime) == *time,
                    "ours " + Iso(b.utcTime) + ", reference " + *time + context);
        }
        if (const auto speed = number("speed"); speed && b.fixValid && !field(7).empty()) {
            c.Check("RMC speed", WithinFloat(b.speedKnots * 1852.0 / 3600.0, *speed, 5e-4),
                    Describe(b.speedKnots * 1852.0 / 3600.0, *speed) + context);
        }
        if (const auto track = number("track"); track && b.fixValid && !field(8).empty()) {
            c.Check("RMC course", WithinFloat(b.course, *track, 5e-5),
                    Describe(b.course, *track) + context);
        }
    }
    if (code == "DBT" && tpv) {
        if (const auto depth = number("depth"); depth && !field(3).empty()) {
            c.Check("DBT depth", WithinFloat(b.depthMetres, *depth, 5e-4),
                    Describe(b.depthMetres, *depth) + context);
        }
    }
    if (code == "GSV" && sky && field(1) == field(2)) {
        const auto satellites = JsonObjects(report, "satellites");
        if (satellites.empty()) {
            return;
        }
        if (!completeGroup) {
            // The block keeps each message's satellites in that message's slots; the
            // reference lists what it has. Without message 1 the two cannot be lined up.
            c.Excuse("GSV group begun before the recording: slots differ");
            return;
        }
        const auto inView = number("nSat");
        if (inView && *inView != atoi(field(3).c_str())) {
            // The reference counts the satellites listed; the block keeps the sentence's count.
            c.Excuse("GSV count field differs from the satellites listed");
        } else if (inView) {
            c.Check("GSV satellites in view", b.satsInView == *inView,
                    Describe(b.satsInView, *inView) + context);
        }
        for (size_t i = 0; i < satellites.size() && i < 12; ++i) {
            const SatelliteEntry& e = b.satellites[i];
            const auto prn = JsonNumber(satellites[i], "PRN");
            const auto el = JsonNumber(satellites[i], "el");
            const auto az = JsonNumber(satellites[i], "az");
            const double ss = JsonNumber(satellites[i], "ss").value_or(0.0);
            const bool agrees = prn && *prn == e.prn && el.value_or(0) == e.elevation &&
                                az.value_or(0) == e.azimuth && ss == e.snr;
            char detail[160];
            snprintf(detail, sizeof detail, "entry %zu ours %d/%d/%d/%d reference %s", i, e.prn,
                     e.elevation, e.azimuth, e.snr, std::string(satellites[i]).c_str());
            c.Check("GSV satellite", agrees, detail + context);
        }
    }
}

// With "Multi GNSS" off, as GPS-only receivers were always read; the GPS-only recordings also
// with the setting on, where the reference agrees with the block just as well.
TEST(NmeaCorpus, DecodedValuesMatchTheReference) {
    TAVRO_NEEDS_CORPUS();
    std::map<std::string, int> checked;
    std::map<std::string, int> excused;
    for (const char* name : recordings) {
        const std::string base = CorpusDir() + "/gpsd/nmea/" + name + ".log";
        const std::string log = ReadFile(base);
        const std::vector<std::string> reference = Lines(ReadFile(base + ".chk"));
        ASSERT_FALSE(log.empty()) << base;
        ASSERT_FALSE(reference.empty()) << base;

        FakeParserHost port;
        FakeParserHost filtered; // the same frames with "NMEA Filter" on
        filtered.optionFlags = optionNmeaFilter;
        port.multiGnss = filtered.multiGnss = false;
        FakeParserHost multi; // and with "Multi GNSS" on
        const bool gpsOnly = !MultiConstellation(name);
        Comparison c(name);
        Comparison m(std::string(name) + " (Multi GNSS on)");
        size_t next = 0;      // first reference line not matched yet
        unsigned gsvSeen = 0; // bit m - 1: GSV message m of the current group seen
        std::string ggaTime;  // of the last GGA with a fix; "-" first when it was not taken
        const std::string_view data = std::string_view(log).substr(HeaderLength(log));
        for (const CutFrame& frame : CutLikePoll(data, bytesPerTick)) {
            Parse(port, frame.bytes);
            if (gpsOnly) {
                Parse(multi, frame.bytes);
            }
            const size_t relayedBefore = filtered.relayed.size();
            const int recoveriesBefore = filtered.recoveries;
            Parse(filtered, frame.bytes);
            if (filtered.recoveries != recoveriesBefore) {
                c.Excuse("frame spent on the re-open after six bad ones (NMEA Filter)");
            } else {
                const bool relayed = filtered.relayed.size() == relayedBefore + 1 &&
                                     filtered.relayed.back() == frame.bytes;
                c.Check("relayed exactly when verified (NMEA Filter)",
                        relayed == (port.checksumErrors == 0) &&
                            filtered.relayed.size() <= relayedBefore + 1,
                        frame.bytes);
            }
            const std::string text = Trimmed(frame.bytes);
            while (next < reference.size() && !IsSentenceLine(reference[next])) {
                ++next;
            }
            if (port.checksumErrors != 0) {
                // Garbage in front of a sentence: the reference starts again at any "$" and
                // accepts the sentence, the hub checks the frame from its start and fails it.
                const size_t inside = next < reference.size() ? text.find(reference[next]) : 0;
                if (inside != std::string::npos && inside > 0) {
                    c.Excuse(
                        "sentence behind garbage in one frame: accepted only by the reference");
                    for (++next; next < reference.size() && !IsSentenceLine(reference[next]);) {
                        ++next;
                    }
                }
                continue;
            }
            ASSERT_LT(next, reference.size()) << name << ": accepted but not echoed: " << text;
            if (reference[next] != text && TextAfterChecksum(text)) {
                // The hub verifies up to the two digits after the first "*"; the reference
                // takes the last "*" of the line and rejects such garbage.
                c.Excuse("text after the checksum digits: accepted only by the hub");
                continue;
            }
            if (reference[next] != text) {
                // Two sentences glued in one line: the reference keeps only the second, ours
                // verifies the first and reads the fields of both.
                const size_t glued = text.find('$', text.find('*'));
                ASSERT_TRUE(glued != std::string::npos && text.substr(glued) == reference[next])
                    << name << ": ours " << text << "\nreference " << reference[next];
                c.Excuse("two sentences glued in one line: different sentence decoded");
                ++next;
                continue;
            }
            const std::vector<std::string> fields = Split(text.substr(0, text.find('*')), ',');
            if (fields[0].size() >= 6 && fields[0].substr(3) == "GGA" && fields.size() > 6) {
                ggaTime = atoi(fields[6].c_str()) <= 0 ? ""
                          : port.block.fixValid        ? fields[1]
                                                       : "-" + fields[1];
            }
            if (fields[0].size() >= 6 && fields[0].substr(3) == "GSV" && fields.size() > 2) {
                const int message = atoi(fields[2].c_str());
                gsvSeen = message == 1 ? 1u : gsvSeen | (1u << (message & 31)) >> 1;
            }
            const unsigned wanted =
                (1u << std::min(atoi(fields.size() > 1 ? fields[1].c_str() : "0"), 3)) - 1;
            const bool decoded =
                IsTalkerPrefix(reinterpret_cast<const uint8_t*>(text.data()), text.size(), false);
            const std::string context = "\n  after " + text;
            for (++next; next < reference.size() && !IsSentenceLine(reference[next]); ++next) {
                if (decoded) {
                    CompareReport(c, fields, port.block, reference[next], context,
                                  (gsvSeen & wanted) == wanted, ggaTime);
                    if (gpsOnly) {
                        CompareReport(m, fields, multi.block, reference[next], context,
                                      (gsvSeen & wanted) == wanted, ggaTime);
                    }
                } else {
                    c.Excuse("talker not decoded by the hub");
                }
            }
        }
        for (; next < reference.size(); ++next) {
            EXPECT_FALSE(IsSentenceLine(reference[next]))
                << name << ": echoed but not accepted: " << reference[next];
        }
        for (const auto& [what, count] : c.Checked()) {
            checked[what] += count;
        }
        for (const auto& [why, count] : c.Excused()) {
            excused[why] += count;
        }
        for (const auto& [what, count] : m.Checked()) {
            checked["Multi GNSS on: " + what] += count;
        }
    }
    for (const auto& [what, count] : checked) {
        printf("  checked %6d  %s\n", count, what.c_str());
    }
    // Every kind of comparison must really have happened.
    const std::pair<const char*, int> minimum[] = {
        {"GGA latitude", 20},
        {"cycle latitude", 200},
        {"GGA altitude", 20},
        {"GGA geoid separation", 40},
        {"GGA DGPS age", 10},
        {"GGA satellites used", 500},
        {"GSA fix mode", 300},
        {"GSA dilution", 1500},
        {"RMC time", 200},
        {"RMC speed", 200},
        {"RMC course", 200},
        {"DBT depth", 70},
        {"GSV satellites in view", 500},
        {"GSV satellite", 5000},
        {"relayed exactly when verified (NMEA Filter)", 9000},
        {"Multi GNSS on: cycle latitude", 200},
        {"Multi GNSS on: GSA fix mode", 300},
        {"Multi GNSS on: RMC time", 200},
        {"Multi GNSS on: GSV satellites in view", 500},
        {"Multi GNSS on: GSV satellite", 5000},
    };
    for (const auto& [what, count] : minimum) {
        EXPECT_GE(checked[what], count) << what;
    }
    for (const auto& [why, count] : excused) {
        printf("  excused %6d  %s\n", count, why.c_str());
    }
}

} // namespace
} // namespace tavro::testing
