// The fix status line, the line-load estimate and the tables behind them.
#include "setup/StatusText.h"

#include <gtest/gtest.h>

namespace tavro::setup {
namespace {

SentenceRates EverySentenceOfTheDefaults() {
    SentenceRates rates{};
    rates[1] = rates[3] = rates[4] = rates[5] = 1; // RMC GGA GSA GSV
    return rates;
}

TEST(StatusTextTest, TheFixWordFollowsStreamAndFixState) {
    EXPECT_STREQ(FixWord(0, 3), "No GPS") << "detached: whatever the fix byte holds";
    EXPECT_STREQ(FixWord(1, 3), "No GPS") << "port closed";
    EXPECT_STREQ(FixWord(2, 0), "No NMEA");
    EXPECT_STREQ(FixWord(3, 1), "None");
    EXPECT_STREQ(FixWord(3, 2), "2D");
    EXPECT_STREQ(FixWord(4, 3), "3D");
    EXPECT_STREQ(FixWord(3, 4), "No GPS");
    EXPECT_STREQ(FixWord(3, 5), "No GPS") << "Invalid has no word of its own";
    EXPECT_STREQ(FixWord(3, 255), "No GPS");
}

TEST(StatusTextTest, TheStatusLineHasThreeSpacesBeforeTheCounter) {
    GpsSharedStatus block{};
    block.streamState = 3;
    block.fixState = 3;
    block.rmcCount = 1234;
    char text[statusTextCapacity];
    FixStatusText(block, text);
    EXPECT_STREQ(text, "Fix: 3D   Fix counter: 1234");
    block.rmcCount = INT32_MIN;
    block.fixState = 2;
    FixStatusText(block, text);
    EXPECT_STREQ(text, "Fix: 2D   Fix counter: -2147483648");
}

TEST(StatusTextTest, FourDefaultSentencesFillA4800LineAtOneHertzAndOverrunItFiveTimesAtFive) {
    const SentenceRates rates = EverySentenceOfTheDefaults();
    int percent = -1;
    // (77 + 92 + 67 + 245) x 1 x 100 / 480 = 100.2
    ASSERT_TRUE(BandwidthEstimate(4800, 0, rates, percent));
    EXPECT_EQ(percent, 100);
    ASSERT_TRUE(BandwidthEstimate(4800, 4, rates, percent));
    EXPECT_EQ(percent, 501);
    char text[statusTextCapacity];
    ASSERT_TRUE(BandwidthText(4800, 4, rates, text));
    EXPECT_STREQ(text, "Bandwidth: 501%");
    ASSERT_TRUE(BandwidthText(115200, 0, rates, text));
    EXPECT_STREQ(text, "Bandwidth: 4%");
}

TEST(StatusTextTest, EachSlotCountsItsSizeDividedByItsRate) {
    SentenceRates rates{};
    rates[5] = 5;  // GSV: 245 / 5 = 49
    rates[18] = 4; // CHN: 205 / 4 = 51 (integer division per slot)
    rates[10] = 1; // reserved: size 0
    int percent = 0;
    ASSERT_TRUE(BandwidthEstimate(1000, 0, rates, percent)); // 100 bytes a second
    EXPECT_EQ(percent, 100);
    ASSERT_TRUE(BandwidthEstimate(1000, 1, {}, percent));
    EXPECT_EQ(percent, 0) << "nothing chosen is an estimate of 0";
}

TEST(StatusTextTest, NoSpeedOrAnUnknownRateGivesNoEstimate) {
    const SentenceRates rates = EverySentenceOfTheDefaults();
    int percent = -1;
    EXPECT_FALSE(BandwidthEstimate(0, 0, rates, percent));
    EXPECT_FALSE(BandwidthEstimate(9, 0, rates, percent)) << "under 10 bits is 0 bytes a second";
    EXPECT_TRUE(BandwidthEstimate(10, 0, rates, percent));
    EXPECT_EQ(percent, 48100);
    EXPECT_FALSE(BandwidthEstimate(4800, fixRateCount, rates, percent));
    char text[statusTextCapacity] = "old";
    EXPECT_FALSE(BandwidthText(0, 0, rates, text));
    EXPECT_STREQ(text, "");
}

TEST(StatusTextTest, FixRatesAreListedByHertzAndIntervalAndFoundByInterval) {
    char label[fixRateLabelCapacity];
    FixRateLabel(0, label);
    EXPECT_STREQ(label, "1Hz 1000ms");
    FixRateLabel(2, label);
    EXPECT_STREQ(label, "3Hz 333ms");
    FixRateLabel(4, label);
    EXPECT_STREQ(label, "5Hz 200ms");
    FixRateLabel(5, label);
    EXPECT_STREQ(label, "");
    EXPECT_EQ(FixRateIndexForInterval(1000), 0u);
    EXPECT_EQ(FixRateIndexForInterval(333), 2u);
    EXPECT_EQ(FixRateIndexForInterval(200), 4u);
    EXPECT_EQ(FixRateIndexForInterval(100), 0u) << "10 Hz is not listed: the first entry";
    EXPECT_EQ(FixRateIndexForInterval(0), 0u);
    EXPECT_EQ(FixRateIndexForInterval(-1000), 0u);
}

TEST(StatusTextTest, LabelsAndSpeedsAreFoundOnlyWhereTheListsHaveThem) {
    EXPECT_EQ(SlotOfLabel("gsv"), 5);
    EXPECT_EQ(SlotOfLabel("CHN"), 18);
    EXPECT_EQ(SlotOfLabel("GS"), -1);
    EXPECT_EQ(SlotOfLabel("GSVX"), -1);
    EXPECT_EQ(SlotOfLabel(nullptr), -1);
    for (size_t slot = 8; slot <= 16; ++slot) {
        EXPECT_FALSE(SlotHasList(slot)) << "reserved slot " << slot;
    }
    EXPECT_FALSE(SlotHasList(sentenceSlotCount));
    EXPECT_EQ(DefaultSentenceRates(), EverySentenceOfTheDefaults());
    EXPECT_EQ(LineSpeedIndex(115200), 5);
    EXPECT_EQ(LineSpeedIndex(187500), -1) << "the hub's fastest speed is no MTK speed";
}

} // namespace
} // namespace tavro::setup
