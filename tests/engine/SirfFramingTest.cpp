// The SiRF recordings of the corpus read through the input port at 38400 baud with "NMEA
// Filter" on: the virtual ports must receive every frame of the reference table, byte for
// byte, in order, even the frames whose length, payload or checksum holds 0xB3.
#include "tests/engine/HubFixture.h"
#include "tests/support/Corpus.h"

#include <fstream>
#include <map>
#include <sstream>

namespace tavro::testing {
namespace {

std::string CorpusFile(const std::string& name) {
    std::ifstream file(CorpusRoot() + "/" + name, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// Offsets and payload lengths of the frames of each recording, from vectors/sirf_frames.tsv.
std::map<std::string, std::vector<std::pair<size_t, size_t>>> ReferenceFrames() {
    std::map<std::string, std::vector<std::pair<size_t, size_t>>> frames;
    std::istringstream table(CorpusFile("vectors/sirf_frames.tsv"));
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream columns(line);
        std::string file, offset, mid, payloadLength;
        if (line.empty() || line[0] == '#' || line.rfind("file\t", 0) == 0 ||
            !std::getline(columns, file, '\t') || !std::getline(columns, offset, '\t') ||
            !std::getline(columns, mid, '\t') || !std::getline(columns, payloadLength, '\t')) {
            continue;
        }
        frames[file].emplace_back(std::stoul(offset), std::stoul(payloadLength));
    }
    return frames;
}

// Splits relayed bytes into SiRF frames by their declared lengths.
std::vector<std::string> SplitFrames(const std::string& relayed) {
    std::vector<std::string> frames;
    size_t at = 0;
    while (at + 4 <= relayed.size()) {
        const size_t length = 8 + (static_cast<uint8_t>(relayed[at + 2]) << 8 |
                                   static_cast<uint8_t>(relayed[at + 3]));
        frames.push_back(relayed.substr(at, length));
        at += length;
    }
    return frames;
}

class SirfFraming : public HubFixture {};

TEST_F(SirfFraming, EveryCorpusFrameReachesTheVirtualPorts) {
    TAVRO_NEEDS_CORPUS();
    constexpr size_t bytesPerTick = 192; // 38400 baud, 50 ms
    hub_.settings.optionFlags = OptionFlags::nmeaFilter;
    hub_.settings.baud = 38400;
    port_->Open();
    auto application = Application();
    size_t total = 0, withB3 = 0;
    for (const auto& [name, reference] : ReferenceFrames()) {
        const std::string recording = CorpusFile("gpsd/sirf/" + name);
        ASSERT_FALSE(recording.empty()) << name;
        // Each recording starts as on a freshly created port: frames end at line feed until
        // the stream shows itself, so the text header makes frames of its own.
        port_->framing.Clear();
        port_->framing.terminator = nmeaTerminator;
        std::string relayed;
        for (size_t at = 0; at < recording.size(); at += bytesPerTick) {
            Feed(recording.substr(at, bytesPerTick));
            relayed += application->ReadNow();
        }
        const std::vector<std::string> frames = SplitFrames(relayed);
        ASSERT_EQ(frames.size(), reference.size()) << name;
        for (size_t i = 0; i < frames.size(); ++i) {
            const auto [offset, payloadLength] = reference[i];
            const std::string expected = recording.substr(offset, 8 + payloadLength);
            ASSERT_EQ(frames[i], expected) << name << " frame at " << offset;
            withB3 += expected.find('\xB3') < expected.size() - 1 ? 1 : 0;
        }
        total += frames.size();
    }
    EXPECT_EQ(total, 6310u);
    printf("  %zu frames relayed, %zu of them with 0xB3 before their end\n", total, withB3);
}

} // namespace
} // namespace tavro::testing
