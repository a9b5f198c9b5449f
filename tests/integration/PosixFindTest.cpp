// `tavro find` with real processes and real pseudo-terminals: gps-sim as a receiver at 38400
// (which sends noise while its line is set to another speed) beside a port that stays silent,
// each test in a COM directory and settings folder of its own.
#include "tests/integration/PosixProcess.h"
#include "tests/platform/TestPty.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

namespace tavro::testing {
namespace {

using namespace std::chrono_literals;

class PosixFind : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavro-find-XXXXXX";
        const char* made = mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        root_ = made;
        std::filesystem::create_directories(root_ + "/dev");
        static std::atomic<int> counter{0};
        environment_ = {
            {"TAVRO_DEVDIR", root_ + "/dev"},
            {"XDG_CONFIG_HOME", root_ + "/config"},
            {"TAVRO_SHM",
             "/TavroFind-" + std::to_string(getpid()) + "-" + std::to_string(counter++)},
            {"HOME", root_},
        };
    }

    void TearDown() override {
        if (hub_ != nullptr) {
            hub_->Stop(SIGTERM);
        }
        sim_.reset();
        if (HasFailure()) {
            std::fprintf(stderr, "--- gps-sim log\n%s--- hub log\n%s--- end\n",
                         FileText(root_ + "/sim.log").c_str(),
                         FileText(root_ + "/hub.log").c_str());
        }
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    std::string Link(int comNumber) const { return root_ + "/dev/COM" + std::to_string(comNumber); }

    int Tavro(const std::vector<std::string>& arguments, std::string& output) {
        std::vector<std::string> command = {TAVRO_PATH};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return RunProgram(command, environment_, output, root_ + "/tool.out");
    }

    std::string Setting(const std::string& name) {
        std::string output;
        EXPECT_EQ(Tavro({"config", "get", name}, output), 0) << output;
        return output;
    }

    void StartReceiver(int comNumber, const std::string& baud) {
        sim_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{GPS_SIM_PATH, "--com", std::to_string(comNumber), "--baud",
                                     baud, "--seed", "11", "--log", root_ + "/sim.log"},
            environment_, root_ + "/sim.log");
        ASSERT_TRUE(Eventually([&] { return std::filesystem::is_symlink(Link(comNumber)); }, 10s));
    }

    // A port that exists and never says anything: the test holds the other side.
    void AddSilentPort(int comNumber) {
        ASSERT_TRUE(silent_.Valid());
        std::filesystem::create_symlink(silent_.SlavePath(), Link(comNumber));
    }

    std::string root_;
    Environment environment_;
    std::unique_ptr<ChildProcess> sim_;
    std::unique_ptr<ChildProcess> hub_;
    TestPty silent_;
};

TEST_F(PosixFind, FindsTheReceiverAtItsOwnSpeedAndNotInTheNoiseBelowIt) {
    StartReceiver(4, "38400");
    AddSilentPort(2);
    std::string output;
    ASSERT_EQ(Tavro({"find", "--apply"}, output), 0) << output;

    EXPECT_NE(output.find("GPS on COM4 at 38400\n"), std::string::npos) << output;
    // The progress lines came first: both ports, COM4 at the speeds it went through.
    const size_t result = output.find("GPS on COM4");
    const std::string progress = output.substr(0, result);
    EXPECT_TRUE(
        std::regex_search(progress, std::regex("(^|\\n)[^\\n]*4 (4800|9600|19200|38400), ")))
        << output;
    EXPECT_EQ(output.find("at 4800"), std::string::npos);
    EXPECT_EQ(output.find("No GPS Found"), std::string::npos);

    EXPECT_EQ(Setting("Port"), "4\n");
    EXPECT_EQ(Setting("Baud"), "38400\n");
    EXPECT_EQ(Setting("Bluetooth"), "0\n");

    // The search let go of both ports.
    std::string again;
    EXPECT_EQ(Tavro({"find"}, again), 0) << again;
    EXPECT_NE(again.find("GPS on COM4 at 38400"), std::string::npos) << again;
}

TEST_F(PosixFind, ASilentPortAloneIsNoReceiverAndNothingIsStored) {
    AddSilentPort(2);
    std::string output;
    EXPECT_EQ(Tavro({"find", "--apply"}, output), 1) << output;
    EXPECT_NE(output.find("No GPS Found\n"), std::string::npos) << output;
    EXPECT_EQ(Setting("Port"), "1\n") << "the default, untouched";
    EXPECT_EQ(Setting("Baud"), "4800\n");
}

TEST_F(PosixFind, AnEmptyComDirectoryIsSaidSo) {
    std::string output;
    EXPECT_EQ(Tavro({"find"}, output), 1) << output;
    EXPECT_NE(output.find("no serial ports in " + root_ + "/dev"), std::string::npos) << output;
    EXPECT_NE(output.find("No GPS Found"), std::string::npos) << output;
}

TEST_F(PosixFind, RefusesWhileAHubRunsInTheSameDirectory) {
    StartReceiver(1, "4800");
    hub_ = std::make_unique<ChildProcess>(std::vector<std::string>{TAVRO_PATH, "run"}, environment_,
                                          root_ + "/hub.log");
    ASSERT_TRUE(
        Eventually([&] { return std::filesystem::exists(root_ + "/dev/TavroMsgWnd"); }, 10s));
    std::string output;
    EXPECT_EQ(Tavro({"find"}, output), 1) << output;
    EXPECT_NE(output.find("a hub runs in " + root_ + "/dev"), std::string::npos) << output;
    EXPECT_EQ(output.find("GPS on"), std::string::npos);
}

TEST_F(PosixFind, UnknownArgumentsAreAUsageError) {
    std::string output;
    EXPECT_EQ(Tavro({"find", "--now"}, output), 2);
    EXPECT_NE(output.find("usage: tavro find [--apply]"), std::string::npos) << output;
}

} // namespace
} // namespace tavro::testing
