// Cutting the stream into frames as the input port does.
#include "hub/decode/FrameCutter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

std::vector<std::string> Cut(FrameCutter& cutter, const std::string& bytes) {
    std::vector<std::string> frames;
    for (char c : bytes) {
        if (const uint32_t length = cutter.Append(static_cast<uint8_t>(c))) {
            EXPECT_EQ(cutter.Frame()[length], 0) << "a zero byte follows every frame";
            frames.emplace_back(reinterpret_cast<const char*>(cutter.Frame()), length);
        }
    }
    return frames;
}

TEST(FrameCutter, EndsFramesAtTheTerminatorAcrossReads) {
    FrameCutter cutter;
    EXPECT_TRUE(Cut(cutter, "$GPGGA,1,2").empty());
    EXPECT_EQ(cutter.PendingLength(), 10u);
    EXPECT_EQ(Cut(cutter, "*00\r\n$GP"), std::vector<std::string>{"$GPGGA,1,2*00\r\n"});
    cutter.terminator = sirfTerminator;
    EXPECT_EQ(Cut(cutter, "\n\xB0\xB3"), std::vector<std::string>{"$GP\n\xB0\xB3"});
}

TEST(FrameCutter, FiveHundredTenBytesWithoutTerminatorMakeAFrame) {
    FrameCutter cutter;
    const std::string noTerminator(1200, 'x');
    const std::vector<std::string> frames = Cut(cutter, noTerminator);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].size(), 510u);
    EXPECT_EQ(cutter.PendingLength(), 1200u - 1020u) << "the 511th byte starts the next frame";
}

TEST(FrameCutter, FixedLengthFramesForTheSearch) {
    FrameCutter cutter(0, 32);
    const std::vector<std::string> frames = Cut(cutter, std::string(70, '\n'));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].size(), 32u);
}

TEST(FrameCutter, SirfFramesEndAfterTheirDeclaredLength) {
    FrameCutter cutter(sirfTerminator);
    // 0xB3 as a length byte, in the payload and as the first checksum byte.
    std::string frame("\xA0\xA2\x00\xB3", 4);
    for (int i = 0; i < 0xB3; ++i) {
        frame += static_cast<char>(i % 3 == 0 ? 0xB3 : i);
    }
    frame += std::string("\x7F\xB3\xB0\xB3", 4);
    const std::string next("\xA0\xA2\x00\x01\xB3\x00\xB3\xB0\xB3", 9);
    EXPECT_EQ(Cut(cutter, frame + next + std::string("\xA0\xA2\x00", 3)),
              (std::vector<std::string>{frame, next}));
    EXPECT_EQ(cutter.PendingLength(), 3u);
}

TEST(FrameCutter, WithoutAUsableLengthSirfFramesEndAtTheFirstB3) {
    FrameCutter cutter(sirfTerminator);
    // A declared length beyond 510 bytes is taken as garbled.
    const std::string garbled("\xA0\xA2\x01\xF7payload\xB3", 12);
    EXPECT_EQ(Cut(cutter, garbled), std::vector<std::string>{garbled});
    // 8 + 502 = 510 still counts.
    std::string longest("\xA0\xA2\x01\xF6", 4);
    longest += std::string(502, '\xB3') + std::string("\x00\x00\xB0\xB3", 4);
    EXPECT_EQ(Cut(cutter, longest), std::vector<std::string>{longest});
    // Frames that do not begin with 0xA0 0xA2, and frames cut while the stream is NMEA, keep
    // the terminator rule.
    EXPECT_EQ(Cut(cutter, std::string("\x00\xA2\x00\x10\xB3", 5)).size(), 1u);
    cutter.terminator = nmeaTerminator;
    const std::string nmeaCut("\xA0\xA2\x00\x10\n", 5);
    EXPECT_EQ(Cut(cutter, nmeaCut), std::vector<std::string>{nmeaCut});
    // The search's fixed frames are never lengthened.
    FrameCutter scan(sirfTerminator, 32);
    EXPECT_EQ(Cut(scan, std::string("\xA0\xA2\x00\x40", 4) + std::string(28, 'x')).size(), 1u);
}

TEST(FrameCutter, AssemblesInTheCallersBuffer) {
    uint8_t lineBuffer[FrameCutter::bufferSize] = {};
    FrameCutter cutter(lineBuffer);
    EXPECT_EQ(Cut(cutter, "$GPTXT*00\n"), std::vector<std::string>{"$GPTXT*00\n"});
    EXPECT_EQ(cutter.Frame(), lineBuffer);
    EXPECT_EQ(lineBuffer[10], 0);
}

TEST(FrameCutter, RecognisesStreamStartsOnlyWithinOneRead) {
    const uint8_t read[] = {'x', '$', 'G', 'P', 0xA0, 0xA2, '!', 'A', 'I', '$', 'G'};
    const size_t count = sizeof read;
    EXPECT_EQ(RecogniseStreamStart(read, count, 0, false), StreamStart::None);
    EXPECT_EQ(RecogniseStreamStart(read, count, 1, false), StreamStart::Nmea);
    EXPECT_EQ(RecogniseStreamStart(read, count, 4, false), StreamStart::Sirf);
    EXPECT_EQ(RecogniseStreamStart(read, count, 6, false), StreamStart::Nmea);
    EXPECT_EQ(RecogniseStreamStart(read, count, 9, false), StreamStart::None) << "cut by the read";
    EXPECT_EQ(RecogniseStreamStart(read, 5, 4, false), StreamStart::None) << "pair cut by the read";
    EXPECT_EQ(RecogniseStreamStart(read, count, count, false), StreamStart::None);
}

} // namespace
} // namespace tavro
