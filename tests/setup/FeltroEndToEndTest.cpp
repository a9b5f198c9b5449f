// feltro end to end: gps-sim as an MTK receiver on COM1, `tavro run` owning it, and the
// `feltro` verbs talking to the receiver through the hub. Each test has its own COM directory,
// settings and status block name.
#include "tests/integration/PosixProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

namespace tavro::testing {
namespace {

using namespace std::chrono_literals;

// The hub's first open attempt comes 2.5 s after it starts; loaded machines are slower.
constexpr auto streamPatience = 20s;

long JsonInteger(const std::string& json, const std::string& name) {
    std::smatch match;
    return std::regex_search(json, match, std::regex("\"" + name + "\":(-?[0-9]+)"))
               ? std::stol(match[1])
               : -1;
}

bool Contains(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

class FeltroEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        const PrivateStage stage = MakePrivateStage("feltro-e2e");
        ASSERT_FALSE(stage.root.empty());
        root_ = stage.root;
        environment_ = stage.environment;
    }

    void TearDown() override {
        if (hub_ != nullptr && hub_->Running()) {
            hub_->Stop(SIGTERM);
        }
        hub_.reset();
        sim_.reset();
        if (HasFailure()) {
            std::fprintf(stderr, "--- hub log\n%s--- gps-sim log\n%s--- end\n",
                         FileText(root_ + "/hub.log").c_str(), SimLog().c_str());
        }
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    int Run(const char* program, const std::vector<std::string>& arguments, std::string& output) {
        std::vector<std::string> command = {program};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return RunProgram(command, environment_, output, root_ + "/tool.out");
    }
    int Feltro(const std::vector<std::string>& arguments, std::string& output) {
        return Run(FELTRO_PATH, arguments, output);
    }
    std::string HubStatus(bool json = false) {
        std::string output;
        Run(TAVRO_PATH,
            json ? std::vector<std::string>{"status", "--json"}
                 : std::vector<std::string>{"status"},
            output);
        return output;
    }
    std::string SimLog() const { return FileText(root_ + "/sim.log"); }

    // gps-sim on COM1 (the hub's default input port, at its default 4800) and the hub.
    void StartReceiverAndHub(const std::vector<std::string>& simOptions = {}) {
        std::vector<std::string> sim = {GPS_SIM_PATH, "--com",           "1", "--seed", "7",
                                        "--log",      root_ + "/sim.log"};
        sim.insert(sim.end(), simOptions.begin(), simOptions.end());
        sim_ = std::make_unique<ChildProcess>(sim, environment_, root_ + "/sim.out");
        ASSERT_TRUE(Within(10s, [&] { return std::filesystem::is_symlink(root_ + "/dev/COM1"); }));
        hub_ = std::make_unique<ChildProcess>(std::vector<std::string>{TAVRO_PATH, "run"},
                                              environment_, root_ + "/hub.log");
        ASSERT_TRUE(Within(streamPatience, [&] {
            return HubStatus().rfind("NMEA Stream", 0) == 0;
        })) << HubStatus();
    }

    std::string root_;
    Environment environment_;
    std::unique_ptr<ChildProcess> sim_;
    std::unique_ptr<ChildProcess> hub_;
};

TEST_F(FeltroEndToEnd, QueryShowsTheReceiversAnswersAndTheRateVerbsChangeThem) {
    ASSERT_NO_FATAL_FAILURE(StartReceiverAndHub({"--interval", "500"}));
    std::string output;
    ASSERT_EQ(Feltro({"query"}, output), 0) << output;
    EXPECT_TRUE(Contains(output, "$PMTK500: fix interval 500 ms (listed as 2Hz 500ms)\n"))
        << output;
    EXPECT_TRUE(
        Contains(output, "$PMTK514: GLL=0 RMC=1 VTG=0 GGA=1 GSA=1 GSV=1 GRS=0 GST=0 ZDA=0 CHN=0\n"))
        << output;
    EXPECT_TRUE(Contains(output, "Bandwidth: 200%")) << output;
    EXPECT_TRUE(Contains(SimLog(), "command $PMTK400\n"));
    EXPECT_TRUE(Contains(SimLog(), "command $PMTK414\n"));

    // Named sentences change, the others keep what the receiver reported.
    ASSERT_EQ(Feltro({"nmea", "GSV=5", "gll=2"}, output), 0) << output;
    const std::string sent = "$PMTK314,2,1,0,1,1,5,0,0,0,0,0,0,0,0,0,0,0,0,0*2E";
    EXPECT_TRUE(Contains(output, "sent " + sent + "\n")) << output;
    // The simulator logs a command without its checksum.
    EXPECT_TRUE(Within(5s, [&] {
        return Contains(SimLog(), "command " + sent.substr(0, sent.find('*')) + "\n");
    })) << SimLog();
    ASSERT_EQ(Feltro({"rate", "1Hz"}, output), 0) << output;
    EXPECT_TRUE(Contains(output, "sent $PMTK300,1000,0,0,0,0*1C\n")) << output;

    ASSERT_EQ(Feltro({"query"}, output), 0) << output;
    EXPECT_TRUE(Contains(output, "$PMTK500: fix interval 1000 ms")) << output;
    EXPECT_TRUE(Contains(output, "GLL=2 RMC=1 VTG=0 GGA=1 GSA=1 GSV=5 ")) << output;

    ASSERT_EQ(Feltro({"reset-nmea"}, output), 0) << output;
    EXPECT_TRUE(Contains(output, "sent $PMTK314,-1*04\n")) << output;
    // The hub reads the stream as it arrives: the commands above may all be done before the
    // first whole fix since the start has been decoded.
    EXPECT_TRUE(Within(5s, [&] {
        return Feltro({"status"}, output) == 0 &&
               std::regex_search(output, std::regex("^Fix: 3D   Fix counter: [1-9][0-9]*\n")) &&
               Contains(output, "#"); // the satellites of the fix have bars
    })) << output;
    EXPECT_TRUE(Contains(output, "Line speed: 4800\nFix rate: 1Hz 1000ms\n"
                                 "Sentence rates: GLL=0 RMC=1 VTG=0 GGA=1 GSA=1 GSV=1 GRS=0 "
                                 "GST=0 ZDA=0 CHN=0\nBandwidth: 100%\n"))
        << output;
    EXPECT_TRUE(Within(5s, [&] { return JsonInteger(HubStatus(true), "refCount") == 1; }))
        << "every feltro counted itself out again";
}

TEST_F(FeltroEndToEnd, BaudMovesTheReceiverAndTheHubToTheNewSpeed) {
    ASSERT_NO_FATAL_FAILURE(StartReceiverAndHub());
    std::string output;
    ASSERT_EQ(Feltro({"baud", "9600"}, output), 0) << output;
    EXPECT_TRUE(Contains(output, "sent $PMTK251,9600*17\n")) << output;
    EXPECT_TRUE(Contains(output, "the hub reads the receiver at 9600 now\n")) << output;
    // The hub may re-open on a sentence the receiver had queued before the command, so the
    // receiver can log its switch a little after feltro is done.
    EXPECT_TRUE(Within(5s, [&] { return Contains(SimLog(), "now at 9600 baud"); })) << SimLog();

    // Frames go on decoding at the new speed.
    const std::string before = HubStatus(true);
    EXPECT_EQ(JsonInteger(before, "baudRate"), 9600) << before;
    std::string after;
    EXPECT_TRUE(Within(streamPatience, [&] {
        after = HubStatus(true);
        return JsonInteger(after, "rmcCount") >= JsonInteger(before, "rmcCount") + 3 &&
               JsonInteger(after, "streamState") == 3 && JsonInteger(after, "fixState") == 3;
    })) << after;
    ASSERT_EQ(Feltro({"query"}, output), 0) << "the receiver answers at 9600: " << output;
    ASSERT_EQ(Feltro({"status"}, output), 0) << output;
    EXPECT_TRUE(Contains(output, "Line speed: 9600\n")) << output;
}

TEST_F(FeltroEndToEnd, WithoutAHubNothingIsSentAndTheStatusSaysNoGps) {
    std::string output;
    EXPECT_EQ(Feltro({"status"}, output), 1);
    EXPECT_TRUE(std::regex_search(output, std::regex("(^|\n)Fix: No GPS   Fix counter: 0\n")))
        << output;
    EXPECT_TRUE(Contains(output, "MTK2 commands not supported by this GPS.\n")) << output;
    EXPECT_TRUE(Contains(output, "feltro status: hub not running\n")) << output;
    const std::vector<std::vector<std::string>> commands = {
        {"baud", "9600"}, {"rate", "5"}, {"nmea", "GLL=1"}, {"reset-nmea"}, {"query"}};
    for (const auto& command : commands) {
        EXPECT_EQ(Feltro(command, output), 1) << command[0];
        EXPECT_TRUE(Contains(output, "hub not running: command dropped")) << output;
    }

    // A hub killed outright leaves its block behind; feltro does not take it for a live one.
    ASSERT_NO_FATAL_FAILURE(StartReceiverAndHub());
    EXPECT_EQ(hub_->Stop(SIGKILL), 128 + SIGKILL);
    EXPECT_EQ(Feltro({"status"}, output), 1);
    EXPECT_TRUE(std::regex_search(output, std::regex("(^|\n)Fix: No GPS   Fix counter: 0\n")))
        << output;
}

TEST_F(FeltroEndToEnd, BadArgumentsAreRefusedBeforeAnythingIsSent) {
    std::string output;
    for (const auto& command : std::vector<std::vector<std::string>>{{},
                                                                     {"baud", "1234"},
                                                                     {"baud"},
                                                                     {"rate", "7"},
                                                                     {"nmea"},
                                                                     {"nmea", "GLL=9"},
                                                                     {"nmea", "FOO=1"},
                                                                     {"status", "extra"},
                                                                     {"reset-nmea", "now"},
                                                                     {"fly"},
                                                                     {"query", "--wait", "-3"}}) {
        EXPECT_EQ(Feltro(command, output), 2) << (command.empty() ? "" : command[0]) << output;
    }
    EXPECT_EQ(Feltro({"--help"}, output), 0);
    EXPECT_TRUE(Contains(output, "usage: feltro VERB")) << output;
}

} // namespace
} // namespace tavro::testing
