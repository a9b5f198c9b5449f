// The status line's texts: every stream and fix state, and every reason for a closed port.
#include "hub/ui/StatusText.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro {
namespace {

std::string Stream(uint8_t streamState, uint8_t fixState, uint8_t satsUsed, uint16_t second) {
    GpsSharedStatus block{};
    block.streamState = streamState;
    block.fixState = fixState;
    block.satsUsed = satsUsed;
    block.utcTime.wSecond = second;
    char text[statusTextSize];
    FormatStreamStatus(block, text);
    return text;
}

std::string Closed(uint32_t error) {
    char text[statusTextSize];
    FormatClosedReason(error, text);
    return text;
}

TEST(StatusText, StreamAndFixStatesHaveTheirOwnWords) {
    EXPECT_EQ(Stream(4, 2, 5, 59), "SiRF Stream | 2D Fix | 5 SVs :59");
    EXPECT_EQ(Stream(2, 0, 0, 0), "Unknown Data | No Fix | 0 SVs :00");
    EXPECT_EQ(Stream(3, 1, 2, 10), "NMEA Stream | Low Signal | 2 SVs :10");
    EXPECT_EQ(Stream(3, 5, 12, 10), "NMEA Stream | Invalid | 12 SVs :10");
    // States without words of their own: fix state 4 is never produced.
    EXPECT_EQ(Stream(3, 4, 12, 10), "NMEA Stream |  | 12 SVs :10");
    EXPECT_EQ(Stream(9, 200, 255, 60), " |  | 255 SVs :60");
    // Below stream state 2 there is no fix or satellite count to tell.
    EXPECT_EQ(Stream(0, 3, 8, 7), " |  |  :07");
}

TEST(StatusText, AClosedPortTellsWhy) {
    EXPECT_EQ(Closed(0), "Port Closed");
    EXPECT_EQ(Closed(2), "Port Doesn't Exist");
    EXPECT_EQ(Closed(1168), "Port Doesn't Exist");
    EXPECT_EQ(Closed(5), "Port Access Denied");
    EXPECT_EQ(Closed(121), "Port Open Timeout");
    EXPECT_EQ(Closed(31), "Port Open Failed: 31");
    EXPECT_EQ(Closed(0xFFFFFFFF), "Port Open Failed: -1"); // as "%d" writes it
}

} // namespace
} // namespace tavro
