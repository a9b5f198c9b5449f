// Recordings for replay: the comment header skipped, the data cut into whole units.
#include "tools/gps-sim/Recording.h"
#include "tests/support/Corpus.h"

#include <gtest/gtest.h>

#include <numeric>

namespace tavro::gpssim {
namespace {

std::string Corpus(const std::string& name) {
    return tavro::testing::CorpusRoot() + "/gpsd/" + name;
}

bool IsSirfFrame(const std::string& unit) {
    return unit.size() >= 8 && static_cast<unsigned char>(unit[0]) == 0xA0 &&
           static_cast<unsigned char>(unit[1]) == 0xA2 &&
           static_cast<unsigned char>(unit[unit.size() - 2]) == 0xB0 &&
           static_cast<unsigned char>(unit[unit.size() - 1]) == 0xB3;
}

size_t UnitBytes(const Recording& recording) {
    size_t total = 0;
    for (size_t i = 0; i < recording.UnitCount(); ++i) {
        total += recording.Unit(i).size();
    }
    return total;
}

TEST(Recording, NmeaCaptureSkipsItsHeaderAndKeepsEveryLine) {
    TAVRO_NEEDS_CORPUS();
    Recording recording;
    std::string error;
    ASSERT_TRUE(Recording::Load(Corpus("nmea/mt3339.log"), recording, error)) << error;
    EXPECT_EQ(recording.HeaderBytes(), 197u);
    EXPECT_EQ(UnitBytes(recording), recording.DataBytes()) << "nothing lost or added";
    EXPECT_EQ(recording.Unit(0).substr(0, 7), "$GPGGA,");
    size_t sentences = 0;
    for (size_t i = 0; i < recording.UnitCount(); ++i) {
        const std::string& unit = recording.Unit(i);
        EXPECT_EQ(unit.back(), '\n') << i;
        sentences += unit[0] == '$' ? 1 : 0;
    }
    EXPECT_EQ(sentences, 138u);
}

TEST(Recording, SirfCaptureIsCutIntoWholeFrames) {
    TAVRO_NEEDS_CORPUS();
    for (const auto& [name, frames, header] : {std::tuple{"sirf/bu303-climbing.log", 46u, 344u},
                                               std::tuple{"sirf/sirf2.log", 5508u, 439u}}) {
        SCOPED_TRACE(name);
        Recording recording;
        std::string error;
        ASSERT_TRUE(Recording::Load(Corpus(name), recording, error)) << error;
        EXPECT_EQ(recording.HeaderBytes(), header);
        EXPECT_EQ(UnitBytes(recording), recording.DataBytes());
        size_t whole = 0;
        for (size_t i = 0; i < recording.UnitCount(); ++i) {
            whole += IsSirfFrame(recording.Unit(i)) ? 1 : 0;
        }
        // Every frame whole (sirf2 has "\n#" inside frames: only the leading header goes),
        // and the final line feed on its own.
        EXPECT_EQ(whole, frames);
        EXPECT_EQ(recording.UnitCount(), frames + 1);
        EXPECT_EQ(recording.Unit(recording.UnitCount() - 1), "\n");
    }
}

TEST(Recording, MixedAndOddInput) {
    Recording recording;
    std::string error;
    const std::string frame = std::string("\xA0\xA2\x00\x02\x04\x05\x00\x09\xB0\xB3", 10);
    ASSERT_TRUE(
        Recording::FromBytes("# one\n# two\n$GPRMC,x*00\r\n" + frame + "tail", recording, error));
    ASSERT_EQ(recording.UnitCount(), 3u);
    EXPECT_EQ(recording.Unit(0), "$GPRMC,x*00\r\n");
    EXPECT_EQ(recording.Unit(1), frame);
    EXPECT_EQ(recording.Unit(2), "tail");

    // A cut frame is just bytes; a long run without line feeds is split.
    ASSERT_TRUE(Recording::FromBytes(std::string("\xA0\xA2\x00\x10", 4) + std::string(3000, 'x'),
                                     recording, error));
    EXPECT_EQ(UnitBytes(recording), 3004u);
    for (size_t i = 0; i < recording.UnitCount(); ++i) {
        EXPECT_LE(recording.Unit(i).size(), 1024u);
    }

    EXPECT_FALSE(Recording::FromBytes("# only a header\n", recording, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(Recording::FromBytes("", recording, error));
    EXPECT_FALSE(Recording::Load("/no/such/file.log", recording, error));
    EXPECT_NE(error.find("/no/such/file.log"), std::string::npos);
}

TEST(ReplayCursor, LoopsForever) {
    Recording recording;
    std::string error;
    ASSERT_TRUE(Recording::FromBytes("a\nb\n", recording, error));
    ReplayCursor cursor(recording);
    std::string played;
    for (int i = 0; i < 5; ++i) {
        played += cursor.Next();
    }
    EXPECT_EQ(played, "a\nb\na\nb\na\n");
    EXPECT_EQ(cursor.Laps(), 2u);
}

} // namespace
} // namespace tavro::gpssim
