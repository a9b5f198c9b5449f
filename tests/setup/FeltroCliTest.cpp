// The feltro command line: its arguments and what it prints.
#include "setup/posix/ConsoleView.h"
#include "setup/posix/FeltroArguments.h"

#include "tests/setup/SetupFakes.h"

#include <gtest/gtest.h>

namespace tavro::feltro {
namespace {

using namespace setup;

TEST(FeltroCliTest, OnlyTheListedSpeedsAreAccepted) {
    size_t index = 99;
    ASSERT_TRUE(ParseLineSpeed("9600", index));
    EXPECT_EQ(index, 1u);
    ASSERT_TRUE(ParseLineSpeed("115200", index));
    EXPECT_EQ(index, 5u);
    for (const char* text :
         {"187500", "14400", "0", "", "9600x", "-9600", " 9600", "96000000000", "0x2580"}) {
        EXPECT_FALSE(ParseLineSpeed(text, index)) << text;
    }
    EXPECT_FALSE(ParseLineSpeed(nullptr, index));
}

TEST(FeltroCliTest, FixRatesAreHertzOrIntervals) {
    const std::pair<const char*, size_t> accepted[] = {
        {"1", 0},     {"5", 4},     {"5Hz", 4},  {"2hz", 1},    {"200", 4},
        {"200ms", 4}, {"333MS", 2}, {"1000", 0}, {"1000ms", 0}, {"250", 3},
    };
    for (const auto& [text, expected] : accepted) {
        size_t index = 99;
        EXPECT_TRUE(ParseFixRate(text, index)) << text;
        EXPECT_EQ(index, expected) << text;
    }
    size_t index = 0;
    for (const char* text :
         {"0", "6", "6Hz", "0Hz", "100", "100ms", "5ms", "Hz", "ms", "", "2.5", "1 Hz", "10Hz"}) {
        EXPECT_FALSE(ParseFixRate(text, index)) << text;
    }
}

TEST(FeltroCliTest, SentenceAssignmentsNameListedSlotsOnceWithRatesUpToFive) {
    std::vector<RateAssignment> assignments;
    std::string error;
    ASSERT_TRUE(ParseRateAssignments({"gll=0", "RMC=1", "chn=5"}, assignments, error)) << error;
    ASSERT_EQ(assignments.size(), 3u);
    EXPECT_EQ(assignments[2].slot, 18u);
    EXPECT_EQ(assignments[2].rate, 5);

    const std::vector<std::vector<std::string>> refused = {
        {}, {"GLL"}, {"GLL=6"}, {"GLL=-1"}, {"GLL="}, {"=1"}, {"XYZ=1"}, {"GLL=1", "gll=0"},
    };
    for (const auto& words : refused) {
        error.clear();
        EXPECT_FALSE(ParseRateAssignments(words, assignments, error));
        EXPECT_FALSE(error.empty());
    }
    ParseRateAssignments({"GLL=1", "gll=0"}, assignments, error);
    EXPECT_EQ(error, "GLL is named twice");
}

TEST(FeltroCliTest, UnnamedSentencesKeepTheReceiversRatesOrGetTheDefaults) {
    const std::vector<RateAssignment> assignments = {{0, 1}, {5, 2}};
    SentenceRates expected = DefaultSentenceRates();
    expected[0] = 1;
    expected[5] = 2;
    EXPECT_EQ(MergeRates(assignments, nullptr), expected);

    SentenceRates reported{};
    reported[17] = 3;
    reported[1] = 4;
    const SentenceRates merged = MergeRates(assignments, &reported);
    EXPECT_EQ(merged[17], 3);
    EXPECT_EQ(merged[1], 4);
    EXPECT_EQ(merged[3], 0) << "the receiver's 0, not the default 1";
    EXPECT_EQ(merged[0], 1);
    EXPECT_EQ(merged[5], 2);
}

TEST(FeltroCliTest, WaitIsZeroToSixtySeconds) {
    int ms = -1;
    ASSERT_TRUE(ParseWaitSeconds("2.5", ms));
    EXPECT_EQ(ms, 2500);
    ASSERT_TRUE(ParseWaitSeconds("0", ms));
    EXPECT_EQ(ms, 0);
    for (const char* text : {"-1", "61", "nan", "inf", "1e9", "", "2s"}) {
        EXPECT_FALSE(ParseWaitSeconds(text, ms)) << text;
    }
}

GpsSharedStatus SkyWithThreeSatellites() {
    GpsSharedStatus block{};
    block.usedPrns[0] = 3;
    block.usedPrns[1] = 12;
    block.usedPrns[2] = 30;
    block.satellites[0] = {3, 40, 100, 50};
    block.satellites[1] = {12, 40, 100, 25};
    block.satellites[2] = {30, 40, 100, 0};
    block.satellites[3] = {7, 40, 100, 45}; // in view, not used
    // PRN 30 is used without a signal: its 2-pixel sliver is below one row of eight.
    return block;
}

TEST(FeltroCliTest, TheTextGraphDrawsTheDialogsBarsOneCharacterPerPrn) {
    const std::string graph = TextSignalGraph(SkyWithThreeSatellites());
    // Eight rows of bars, then the tens and the units of the PRNs.
    const std::string expected = "  ..#.. ..... ..... ..... ..... ..... ..\n"
                                 "  ..#.. ..... ..... ..... ..... ..... ..\n"
                                 "  ..#.. ..... ..... ..... ..... ..... ..\n"
                                 "  ..#.. ..... ..... ..... ..... ..... ..\n"
                                 "  ..#.. ..... .#... ..... ..... ..... ..\n"
                                 "  ..#.. ..... .#... ..... ..... ..... ..\n"
                                 "  ..#.. ..... .#... ..... ..... ..... ..\n"
                                 "  ..#.. ..... .#... ..... ..... ..... ..\n"
                                 "            1 11111 11112 22222 22223 33\n"
                                 "  12345 67890 12345 67890 12345 67890 12\n";
    EXPECT_EQ(graph.substr(0, expected.size()), expected);
    EXPECT_NE(graph.find("a full bar is 50 dB-Hz"), std::string::npos);
}

TEST(FeltroCliTest, ASeveralConstellationFixShowsEveryEntryWithItsId) {
    GpsSharedStatus block = SkyWithThreeSatellites();
    block.satellites[1].prn = 305;
    block.satellites[2].prn = 412;
    block.usedEntries = 0x7;
    const std::string graph = TextSignalGraph(block);
    // Three characters per entry; PRN 7 is in view but not used.
    const std::string expected = "  ### ... ... ... ... ... ... ... ... ... ... ... \n"
                                 "  ### ### ... ... ... ... ... ... ... ... ... ... \n"
                                 "  ### ### ... ... ... ... ... ... ... ... ... ... \n"
                                 "  ### ### ... ... ... ... ... ... ... ... ... ... \n"
                                 "  ### ### ... ... ... ... ... ... ... ... ... ... \n"
                                 "    3 305 412   7                                 \n";
    EXPECT_NE(graph.find(expected), std::string::npos) << graph;
}

TEST(FeltroCliTest, TheStatusReportTellsWhatTheReceiverReported) {
    testing::HubMapping mapping;
    GpsSharedStatus& block = mapping.block;
    block = SkyWithThreeSatellites();
    block.streamState = 3;
    block.fixState = 2;
    block.rmcCount = 9;
    block.baudRate = 4800;
    StatusBlock status(mapping);
    testing::RecordingHubLink hub;
    ConsoleView view;
    SetupTool tool(status, hub, view);
    tool.Start();
    tool.Tick();
    std::string report = StatusReport(tool, view);
    EXPECT_EQ(report.substr(0, report.find("  ..")),
              "Fix: 2D   Fix counter: 9\nLine speed: 4800\nFix rate: not reported\n"
              "Sentence rates: not reported\nMTK2 commands not supported by this GPS.\n");

    block.fixInterval = 100;
    block.replyFlags = replyFixInterval | replyNmeaRates;
    block.nmeaRates[1] = 1;
    block.nmeaRates[17] = 2;
    tool.Tick();
    report = StatusReport(tool, view);
    EXPECT_EQ(report.substr(0, report.find("  ..")),
              "Fix: 2D   Fix counter: 9\nLine speed: 4800\n"
              "Fix rate: 1Hz 1000ms (the receiver reports 100 ms)\n"
              "Sentence rates: GLL=0 RMC=1 VTG=0 GGA=0 GSA=0 GSV=0 GRS=0 GST=0 ZDA=2 CHN=0\n"
              "Bandwidth: 19%\n");
}

} // namespace
} // namespace tavro::feltro
