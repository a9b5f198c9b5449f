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

TEST(FrameCutter, RecognisesStreamStartsOnlyWithinOneRead) {
    const uint8_t read[] = {'x', '$', 'G', 'P', 0xA0, 0xA2, '!', 'A', 'I', '$', 'G'};
    const size_t count = sizeof read;
    EXPECT_EQ(RecogniseStreamStart(read, count, 0), StreamStart::None);
    EXPECT_EQ(RecogniseStreamStart(read, count, 1), StreamStart::Nmea);
    EXPECT_EQ(RecogniseStreamStart(read, count, 4), StreamStart::Sirf);
    EXPECT_EQ(RecogniseStreamStart(read, count, 6), StreamStart::Nmea);
    EXPECT_EQ(RecogniseStreamStart(read, count, 9), StreamStart::None) << "cut by the read";
    EXPECT_EQ(RecogniseStreamStart(read, 5, 4), StreamStart::None) << "pair cut by the read";
    EXPECT_EQ(RecogniseStreamStart(read, count, count), StreamStart::None);
}

} // namespace
} // namespace tavro
