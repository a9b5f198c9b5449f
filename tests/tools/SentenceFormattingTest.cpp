// NMEA framing and the sentences gps-sim builds from a fix.
#include "tools/gps-sim/NmeaReports.h"
#include "tools/gps-sim/NmeaSentence.h"

#include "tests/support/Corpus.h"
#include "tests/tools/SentenceCheck.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace tavro::gpssim {
namespace {

using testing::ChecksumHolds;
using testing::Fields;

// Turns the escapes of the vector tables (\r, \n, \t, \\, \xHH) into bytes.
std::string Unescape(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            bytes += text[i];
            continue;
        }
        const char kind = text[++i];
        if (kind == 'r') {
            bytes += '\r';
        } else if (kind == 'n') {
            bytes += '\n';
        } else if (kind == 't') {
            bytes += '\t';
        } else if (kind == 'x' && i + 2 < text.size()) {
            bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            bytes += kind;
        }
    }
    return bytes;
}

TEST(NmeaChecksum, AgreesWithTheCorpusVectors) {
    TAVRO_NEEDS_CORPUS();
    int checked = 0;
    for (const char* file : {"/vectors/nmea_vectors.tsv", "/vectors/pmtk_vectors.tsv"}) {
        std::ifstream table(tavro::testing::CorpusRoot() + file);
        ASSERT_TRUE(table.is_open()) << file;
        std::string row;
        while (std::getline(table, row)) {
            std::vector<std::string> columns;
            std::stringstream split(row);
            for (std::string column; std::getline(split, column, '\t');) {
                columns.push_back(column);
            }
            // Rows without a start character have no computed value.
            if (columns.size() < 5 || columns[3] != "checksum_computed" || columns[4].empty()) {
                continue;
            }
            // The bytes after the first "$" or "!" up to the "*"; rows without one are about
            // other things (cut or run-on sentences).
            const std::string sentence = Unescape(columns[2]);
            const size_t start = sentence.find_first_of("$!") + 1;
            const size_t star = sentence.find('*', start);
            if (star == std::string::npos) {
                continue;
            }
            const std::string_view body = std::string_view(sentence).substr(start, star - start);
            const unsigned expected = std::stoul(columns[4], nullptr, 16);
            EXPECT_EQ(NmeaChecksum(body), expected) << sentence;
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);
}

TEST(FrameSentence, MatchesKnownSentences) {
    EXPECT_EQ(FrameSentence("PMTK500,1000,0,0,0,0"), "$PMTK500,1000,0,0,0,0*1A\r\n");
    EXPECT_EQ(FrameSentence("PMTK514,1,1,1,1,1,5,1,1,1,1,1,1,0,1,1,1,1,1,1"),
              "$PMTK514,1,1,1,1,1,5,1,1,1,1,1,1,0,1,1,1,1,1,1*2A\r\n");
    EXPECT_EQ(FrameSentence("PMTK001,604,3"), "$PMTK001,604,3*32\r\n");
    EXPECT_EQ(FrameSentence("PMTK251,38400"), "$PMTK251,38400*27\r\n");
    EXPECT_EQ(FrameSentence("PMTK300,200,0,0,0,0"), "$PMTK300,200,0,0,0,0*2F\r\n");
    EXPECT_EQ(FrameSentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
              "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
    // A checksum below 0x10 keeps its leading zero.
    const std::string small = FrameSentence("PMTK101");
    EXPECT_TRUE(ChecksumHolds(small)) << small;
}

TEST(VerifySentence, AcceptsGoodSentencesOnly) {
    std::string_view body;
    EXPECT_TRUE(VerifySentence("$PMTK400*36\r\n", body));
    EXPECT_EQ(body, "PMTK400");
    EXPECT_TRUE(VerifySentence("$PMTK400*36", body)) << "CR LF are optional";
    EXPECT_TRUE(VerifySentence("$GPXTE,A,A,0.67,L,N*6F", body)) << "hex digits of any case";
    EXPECT_TRUE(VerifySentence("$GPXTE,A,A,0.67,L,N*6f", body));
    EXPECT_FALSE(VerifySentence("$PMTK400*37\r\n", body)) << "wrong checksum";
    EXPECT_FALSE(VerifySentence("$PMTK400\r\n", body)) << "no checksum";
    EXPECT_FALSE(VerifySentence("$PMTK400*3G", body));
    EXPECT_FALSE(VerifySentence("PMTK400*36", body)) << "no $";
    EXPECT_FALSE(VerifySentence("$P*M*1D", body)) << "a second *";
    EXPECT_FALSE(VerifySentence("", body));
    EXPECT_FALSE(VerifySentence("$*", body));
}

TEST(SplitFields, KeepsEmptyFields) {
    const auto fields = SplitFields("PMTK314,,1,");
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[0], "PMTK314");
    EXPECT_EQ(fields[1], "");
    EXPECT_EQ(fields[2], "1");
    EXPECT_EQ(fields[3], "");
    EXPECT_EQ(SplitFields("").size(), 1u);
}

// 2013-03-23 12:35:19.250 UTC.
constexpr int64_t sampleTime = 1364042119250;

FixSnapshot SampleFix() {
    FixSnapshot fix;
    fix.utcMs = sampleTime;
    fix.fix = FixMode::Fix3D;
    fix.latitude = 48.1173;
    fix.longitude = -11.516667;
    fix.altitude = 545.4;
    fix.geoidSeparation = 46.9;
    fix.speedKnots = 22.4;
    fix.course = 84.4;
    fix.pdop = 1.8;
    fix.hdop = 0.9;
    fix.vdop = 1.5;
    for (int prn : {3, 7, 12, 19, 22}) {
        SatelliteView satellite;
        satellite.prn = prn;
        satellite.elevation = 10 + prn;
        satellite.azimuth = prn * 17;
        satellite.snr = prn == 22 ? 0 : 30 + prn;
        satellite.used = prn != 22;
        fix.satellites.push_back(satellite);
    }
    return fix;
}

TEST(NmeaReports, FixSentencesCarryTheFix) {
    const FixSnapshot fix = SampleFix();
    EXPECT_EQ(
        GgaSentence(fix),
        FrameSentence("GPGGA,123519.250,4807.0380,N,01131.0000,W,1,04,0.90,545.4,M,46.9,M,,"));
    EXPECT_EQ(RmcSentence(fix),
              FrameSentence("GPRMC,123519.250,A,4807.0380,N,01131.0000,W,22.40,84.40,230313,,,A"));
    EXPECT_EQ(GsaSentence(fix), FrameSentence("GPGSA,A,3,03,07,12,19,,,,,,,,,1.80,0.90,1.50"));
    EXPECT_EQ(GllSentence(fix), FrameSentence("GPGLL,4807.0380,N,01131.0000,W,123519.250,A,A"));
    EXPECT_EQ(VtgSentence(fix), FrameSentence("GPVTG,84.40,T,,M,22.40,N,41.48,K,A"));
    EXPECT_EQ(ZdaSentence(fix), FrameSentence("GPZDA,123519.250,23,03,2013,,"));
    for (const std::string& sentence :
         {GgaSentence(fix), RmcSentence(fix), GsaSentence(fix), GllSentence(fix), VtgSentence(fix),
          ZdaSentence(fix), GrsSentence(fix), GstSentence(fix), ChnSentence(fix)}) {
        EXPECT_TRUE(ChecksumHolds(sentence)) << sentence;
    }
    EXPECT_EQ(Fields(GrsSentence(fix)).size(), 15u);
    EXPECT_EQ(Fields(GstSentence(fix)).size(), 9u);
    const auto channels = Fields(ChnSentence(fix));
    ASSERT_EQ(channels.size(), 33u);
    EXPECT_EQ(channels[1], "03332");
    EXPECT_EQ(channels[5], "22001") << "in view, not tracked";
    EXPECT_EQ(channels[6], "00000");
}

TEST(NmeaReports, CoordinatesRoundWithoutSixtyMinutes) {
    FixSnapshot fix = SampleFix();
    fix.latitude = -(33 + 59.999996 / 60.0); // rounds up to the next whole degree
    fix.longitude = 151.0 + 0.00001 / 60.0;
    const auto fields = Fields(GgaSentence(fix));
    EXPECT_EQ(fields[2], "3400.0000");
    EXPECT_EQ(fields[3], "S");
    EXPECT_EQ(fields[4], "15100.0000");
    EXPECT_EQ(fields[5], "E");
}

TEST(NmeaReports, SatellitesSpreadOverGsvMessagesOfFour) {
    FixSnapshot fix = SampleFix();
    for (size_t count : {0u, 1u, 4u, 5u, 8u, 12u, 15u}) {
        SCOPED_TRACE(count);
        fix.satellites.clear();
        for (size_t i = 0; i < count; ++i) {
            SatelliteView satellite;
            satellite.prn = static_cast<int>(i + 1);
            satellite.elevation = 45;
            satellite.azimuth = 5;
            satellite.snr = static_cast<int>(i % 2) * 40;
            fix.satellites.push_back(satellite);
        }
        const size_t listed = count > 12 ? 12 : count;
        const auto sentences = GsvSentences(fix);
        ASSERT_EQ(sentences.size(), listed == 0 ? 1 : (listed + 3) / 4);
        size_t seen = 0;
        for (size_t m = 0; m < sentences.size(); ++m) {
            EXPECT_TRUE(ChecksumHolds(sentences[m])) << sentences[m];
            const auto fields = Fields(sentences[m]);
            EXPECT_EQ(std::stoul(fields[1]), sentences.size());
            EXPECT_EQ(std::stoul(fields[2]), m + 1);
            EXPECT_EQ(std::stoul(fields[3]), listed);
            ASSERT_EQ((fields.size() - 4) % 4, 0u);
            for (size_t k = 4; k < fields.size(); k += 4) {
                EXPECT_EQ(std::stoul(fields[k]), ++seen);
                EXPECT_EQ(fields[k + 2], "005");
                EXPECT_EQ(fields[k + 3], seen % 2 == 0 ? "40" : "") << "untracked: empty SNR";
            }
        }
        EXPECT_EQ(seen, listed);
    }
}

TEST(NmeaReports, NoFixLeavesThePositionEmpty) {
    FixSnapshot fix = SampleFix();
    fix.fix = FixMode::None;
    for (SatelliteView& satellite : fix.satellites) {
        satellite.used = false;
    }
    EXPECT_EQ(GgaSentence(fix), FrameSentence("GPGGA,123519.250,,,,,0,00,,,M,,M,,"));
    EXPECT_EQ(RmcSentence(fix), FrameSentence("GPRMC,123519.250,V,,,,,,,230313,,,N"));
    EXPECT_EQ(GsaSentence(fix), FrameSentence("GPGSA,A,1,,,,,,,,,,,,,,,"));
    EXPECT_EQ(Fields(GsaSentence(fix)).size(), 18u);
}

TEST(NmeaReports, EpochsFollowTheSentenceRates) {
    const FixSnapshot fix = SampleFix();
    SentenceRates rates = {};
    rates[slotRmc] = 1;
    rates[slotGsv] = 3;
    rates[slotGll] = 2;
    std::vector<size_t> counts;
    for (uint64_t index = 0; index < 6; ++index) {
        counts.push_back(EpochSentences(fix, rates, index).size());
    }
    // RMC every fix, GLL every 2nd, GSV (2 messages for 5 satellites) every 3rd.
    EXPECT_EQ(counts, (std::vector<size_t>{4, 1, 2, 3, 2, 1}));
    const auto first = EpochSentences(fix, defaultSentenceRates, 0);
    ASSERT_EQ(first.size(), 5u);
    EXPECT_EQ(first[0].substr(0, 6), "$GPGGA");
    EXPECT_EQ(first[1].substr(0, 6), "$GPGSA");
    EXPECT_EQ(first[2].substr(0, 6), "$GPGSV");
    EXPECT_EQ(first[4].substr(0, 6), "$GPRMC");
    EXPECT_TRUE(EpochSentences(fix, SentenceRates{}, 0).empty());
}

} // namespace
} // namespace tavro::gpssim
