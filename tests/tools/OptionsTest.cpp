// gps-sim's command line.
#include "tools/gps-sim/Options.h"

#include <gtest/gtest.h>

namespace tavro::gpssim {
namespace {

TEST(Options, DefaultsAndEveryOption) {
    Options options;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--com", "9"}, options, error)) << error;
    EXPECT_EQ(options.comNumber, 9u);
    EXPECT_EQ(options.baud, 4800u);
    EXPECT_EQ(options.fixIntervalMs, 1000u);
    EXPECT_TRUE(options.garbage);
    EXPECT_EQ(options.fix, FixMode::Fix3D);
    EXPECT_TRUE(options.replayPath.empty());
    EXPECT_EQ(options.systems, gpsOnly);

    ASSERT_TRUE(ParseOptions({"--com",
                              "255",
                              "--baud",
                              "115200",
                              "--replay",
                              "x.log",
                              "--rate",
                              "5",
                              "--start",
                              "-33.86,151.2",
                              "--fix",
                              "2d",
                              "--seed",
                              "7",
                              "--no-garbage",
                              "--log",
                              "sim.log",
                              "--quiet",
                              "--force",
                              "--once",
                              "--constellations",
                              "gps,glonass,galileo,beidou"},
                             options, error))
        << error;
    EXPECT_EQ(options.comNumber, 255u);
    EXPECT_EQ(options.baud, 115200u);
    EXPECT_EQ(options.replayPath, "x.log");
    EXPECT_EQ(options.fixIntervalMs, 200u);
    EXPECT_DOUBLE_EQ(options.startLatitude, -33.86);
    EXPECT_DOUBLE_EQ(options.startLongitude, 151.2);
    EXPECT_EQ(options.fix, FixMode::Fix2D);
    EXPECT_EQ(options.seed, 7u);
    EXPECT_FALSE(options.garbage);
    EXPECT_EQ(options.logPath, "sim.log");
    EXPECT_TRUE(options.quiet);
    EXPECT_TRUE(options.force);
    EXPECT_EQ(options.systems, 0xFu);
    EXPECT_TRUE(options.once);

    EXPECT_EQ(options.emitDelayMs, -1) << "fixes leave within the loop unless asked";

    ASSERT_TRUE(
        ParseOptions({"--com", "1", "--interval", "250", "--emit-delay", "500"}, options, error));
    EXPECT_EQ(options.fixIntervalMs, 250u);
    EXPECT_EQ(options.emitDelayMs, 500);
    ASSERT_TRUE(ParseOptions({"--help"}, options, error)) << "no --com needed for help";
    EXPECT_TRUE(options.help);
}

TEST(Options, BadCommandLinesAreExplained) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--com"},
        {"--com", "0"},
        {"--com", "256"},
        {"--com", "7x"},
        {"--com", "1", "--baud", "1234"},
        {"--com", "1", "--baud", "187500"},
        {"--com", "1", "--rate", "0"},
        {"--com", "1", "--rate", "11"},
        {"--com", "1", "--interval", "99"},
        {"--com", "1", "--emit-delay", "501"},
        {"--com", "1", "--emit-delay", "-1"},
        {"--com", "1", "--start", "48.1"},
        {"--com", "1", "--start", "91,10"},
        {"--com", "1", "--start", "nan,10"},
        {"--com", "1", "--fix", "4d"},
        {"--com", "1", "--constellations", "gps,,galileo"},
        {"--com", "1", "--constellations", "GPS"},
        {"--com", "1", "--constellations", ""},
        {"--com", "1", "--once"},
        {"--com", "1", "--seed", "-1"},
        {"--com", "1", "--verbose"},
    };
    for (const auto& arguments : bad) {
        Options options;
        std::string error;
        EXPECT_FALSE(ParseOptions(arguments, options, error)) << testing::PrintToString(arguments);
        EXPECT_FALSE(error.empty());
    }
}

TEST(Options, HelpNamesEveryOption) {
    const std::string help = HelpText();
    for (const char* option : {"--com", "--baud", "--replay", "--rate", "--interval", "--start",
                               "--fix", "--seed", "--emit-delay", "--no-garbage", "--log",
                               "--quiet", "--force", "--help", "TAVRO_DEVDIR", "SIGTERM"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

} // namespace
} // namespace tavro::gpssim
