// Sentences from public NMEA test suites (corpus vectors) with the values those suites expect.
#include "hub/decode/Talker.h"
#include "tests/decode/CorpusSupport.h"
#include "tests/decode/FakeParserHost.h"
#include "tests/decode/TestFrames.h"

#include <gtest/gtest.h>

#include <math.h>

#include <map>

namespace tavro::testing {
namespace {

std::string Unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
        }
    }
    return out;
}

struct Vector {
    std::string sentence;
    std::map<std::string, std::string> expected;
};

std::map<std::string, Vector> ReadVectors(const std::string& file) {
    std::map<std::string, Vector> vectors;
    for (const std::string& line : Lines(ReadFile(CorpusDir() + "/vectors/" + file))) {
        const std::vector<std::string> c = Split(line, '\t');
        if (c.size() < 5 || line[0] == '#' || c[0] == "id") {
            continue;
        }
        vectors[c[0]].sentence = Unescaped(c[2]);
        vectors[c[0]].expected[c[3]] = c[4];
    }
    return vectors;
}

double Number(const std::string& text) {
    return text == "(empty)" ? 0.0 : atof(text.c_str());
}

bool Near(double ours, double expected) {
    return fabs(ours - expected) <= fabs(expected) * 0x1p-23 + 1.1e-7;
}

bool LowerCaseDigits(const std::string& sentence) {
    const size_t star = sentence.find('*');
    return star != std::string::npos && sentence.find_first_of("abcdef", star) < star + 3;
}

// Checks one expected value against the block; returns false for values the hub does not keep.
bool CheckValue(const std::string& field, const std::string& value, const GpsSharedStatus& b,
                const std::map<std::string, std::string>& all) {
    const double n = Number(value);
    if (field == "gga.lat_deg")
        EXPECT_TRUE(Near(b.latitude, n)) << b.latitude;
    else if (field == "gga.lon_deg")
        EXPECT_TRUE(Near(b.longitude, n)) << b.longitude;
    else if (field == "gga.quality")
        EXPECT_EQ(b.fixQuality, n);
    else if (field == "gga.sats_used")
        EXPECT_EQ(b.satsUsed, n);
    else if (field == "gga.alt_msl_m")
        EXPECT_TRUE(Near(b.altitude, n)) << b.altitude;
    else if (field == "gga.geoid_sep_m")
        EXPECT_TRUE(Near(b.geoidSeparation, n));
    else if (field == "gga.dgps_age_s")
        EXPECT_TRUE(Near(b.dgpsAge, n));
    else if (field == "gga.dgps_station")
        EXPECT_EQ(b.dgpsStation, n);
    else if (field == "gsa.mode")
        EXPECT_EQ(b.selectionMode, value == "A" ? 1 : value == "M" ? 2 : 0);
    else if (field == "gsa.fix_type")
        EXPECT_EQ(b.fixState, n);
    else if (field == "gsa.pdop")
        EXPECT_TRUE(Near(b.pdop, n));
    else if (field == "gsa.hdop")
        EXPECT_TRUE(Near(b.hdop, n));
    else if (field == "gsa.vdop")
        EXPECT_TRUE(Near(b.vdop, n));
    else if (field == "gsv.sats_in_view")
        EXPECT_EQ(b.satsInView, n);
    else if (field == "dbt.depth_ft")
        EXPECT_TRUE(Near(b.depthFeet, n));
    else if (field == "dbt.depth_m")
        EXPECT_TRUE(Near(b.depthMetres, n));
    else if (field == "rmc.status")
        EXPECT_EQ(b.fixValid, value == "V" ? 0 : 1);
    else if (field == "rmc.speed_kn" && all.at("rmc.status") != "V")
        EXPECT_TRUE(Near(b.speedKnots, n));
    else if (field == "rmc.course_deg" && all.at("rmc.status") != "V")
        EXPECT_TRUE(Near(b.course, n));
    else if (field == "pmtk500.fix_interval_ms")
        EXPECT_EQ(b.fixInterval, n);
    else if (field == "gsa.prns") {
        const std::vector<std::string> prns = Split(value, ' ');
        for (size_t i = 0; i < prns.size() && i < 12; ++i) {
            EXPECT_EQ(b.usedPrns[i], atoi(prns[i].c_str())) << i;
        }
    } else if (field == "pmtk707.values") {
        const std::vector<std::string> values = Split(value, ' ');
        for (size_t i = 0; i < values.size(); ++i) {
            EXPECT_EQ(b.epoStatus[i], atoi(values[i].c_str())) << i;
        }
    } else if (field == "pmtk514.rates") {
        const std::vector<std::string> rates = Split(value, ' ');
        for (size_t i = 0; i < rates.size(); ++i) {
            EXPECT_EQ(b.nmeaRates[i], atoi(rates[i].substr(rates[i].find('=') + 1).c_str())) << i;
        }
    } else if (field == "rmc.time" && value != "(empty)") {
        int hour = 0, minute = 0;
        double second = 0;
        sscanf(value.c_str(), "%d:%d:%lf", &hour, &minute, &second);
        EXPECT_EQ(b.utcTime.wHour, hour);
        EXPECT_EQ(b.utcTime.wMinute, minute);
        EXPECT_EQ(b.utcTime.wSecond, static_cast<int>(second));
        EXPECT_EQ(b.utcTime.wMilliseconds, lround((second - floor(second)) * 1000));
    } else if (field == "rmc.date_ddmmyy" && value != "(empty)") {
        EXPECT_EQ(b.utcTime.wDay, atoi(value.substr(0, 2).c_str()));
        EXPECT_EQ(b.utcTime.wMonth, atoi(value.substr(2, 2).c_str()));
        // Two-digit years are read as 20yy, also for dates the suites mean as 19yy.
        EXPECT_EQ(b.utcTime.wYear, 2000 + atoi(value.substr(4, 2).c_str()));
    } else if (field.rfind("gsv.sat", 0) == 0 && field.size() == 8 && value != "(empty)") {
        const int message = atoi(all.at("gsv.msg_no").c_str());
        if (message < 1 || message > 3) {
            return false;
        }
        const SatelliteEntry& e = b.satellites[(message - 1) * 4 + (field[7] - '1')];
        int prn = 0, el = 0, az = 0;
        sscanf(value.c_str(), "prn=%d el=%d az=%d", &prn, &el, &az);
        EXPECT_EQ(e.prn, prn);
        EXPECT_EQ(e.elevation, el);
        EXPECT_EQ(e.azimuth, az);
        EXPECT_EQ(e.snr, atoi(value.substr(value.find("snr=") + 4).c_str()));
    } else {
        return false;
    }
    return true;
}

TEST(NmeaVectors, ChecksumsAndValuesOfThePublicSuites) {
    int accepted = 0, rejected = 0, values = 0, notKept = 0, otherStart = 0;
    for (const char* file : {"nmea_vectors.tsv", "pmtk_vectors.tsv"}) {
        const auto vectors = ReadVectors(file);
        ASSERT_FALSE(vectors.empty()) << file;
        for (const auto& [id, v] : vectors) {
            SCOPED_TRACE(id + ": " + v.sentence);
            FakeParserHost port;
            port.block.fixValid = 1; // positions are taken only during a valid fix
            Parse(port, v.sentence);
            const bool ours = port.checksumErrors == 0;
            const std::string& verdict = v.expected.at("checksum_ok");
            if (v.sentence.empty() || (v.sentence[0] != '$' && v.sentence[0] != '!')) {
                // The hub sums from the frame's second byte whatever the first one is; the
                // suites look for the start character first.
                ++otherStart;
            } else {
                // Lower-case checksum digits fail here although the suites accept them.
                EXPECT_EQ(ours, verdict == "true" && !LowerCaseDigits(v.sentence)) << verdict;
            }
            (ours ? accepted : rejected) += 1;
            if (!ours || !IsTalkerPrefix(reinterpret_cast<const uint8_t*>(v.sentence.data()),
                                         v.sentence.size())) {
                continue;
            }
            for (const auto& [field, value] : v.expected) {
                (CheckValue(field, value, port.block, v.expected) ? values : notKept) += 1;
            }
        }
    }
    printf("  %d sentences accepted, %d rejected (%d not starting with $ or !); %d values "
           "checked, %d not kept by the hub\n",
           accepted, rejected, otherStart, values, notKept);
    EXPECT_GE(values, 150);
}

} // namespace
} // namespace tavro::testing
