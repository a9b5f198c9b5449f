// The end-to-end tests' fixture: real processes only (gps-sim on COM1, `tavro run`, client
// programs on the virtual ports, the `tavro` verbs). Every test has its own COM directory,
// settings folder and status block name, so tests can run in parallel with each other and
// with a hub the user runs.
#pragma once

#include "tests/integration/PosixProcess.h"
#include "tests/support/Nmea.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <unistd.h>

namespace tavro::testing {

using namespace std::chrono_literals;

// The receiver's first sentences reach the hub soon after it starts (with Battery Saver, its
// first open attempt comes 2.5 s after the timer starts); machines running other tests are
// slow.
constexpr auto streamPatience = 20s;

inline size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

inline double JsonNumber(const std::string& json, const std::string& name) {
    const std::regex pattern("\"" + name + "\":(-?[0-9.eE+-]+)");
    std::smatch match;
    return std::regex_search(json, match, pattern) ? std::stod(match[1]) : 1e9;
}

class PosixHubEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        const PrivateStage stage = MakePrivateStage("tavro-e2e");
        ASSERT_FALSE(stage.root.empty());
        root_ = stage.root;
        environment_ = stage.environment;
    }

    void TearDown() override {
        for (auto& client : clients_) {
            client.reset();
        }
        if (hub_ != nullptr && hub_->Running()) {
            hub_->Stop(SIGTERM);
        }
        hub_.reset();
        sim_.reset();
        if (HasFailure()) {
            std::fprintf(stderr, "--- hub log\n%s--- gps-sim log\n%s--- end\n",
                         FileText(root_ + "/hub.log").c_str(),
                         FileText(root_ + "/sim.log").c_str());
        }
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    int Tavro(const std::vector<std::string>& arguments, std::string& output) {
        std::vector<std::string> command = {TAVRO_PATH};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return RunProgram(command, environment_, output, root_ + "/tool.out");
    }

    void Set(const std::string& name, const std::string& value) {
        std::string output;
        ASSERT_EQ(Tavro({"config", "set", name, value}, output), 0) << output;
    }

    std::string Link(int comNumber) const { return root_ + "/dev/COM" + std::to_string(comNumber); }

    void StartSim() {
        sim_ = std::make_unique<ChildProcess>(std::vector<std::string>{GPS_SIM_PATH, "--com", "1",
                                                                       "--seed", "7", "--log",
                                                                       root_ + "/sim.log"},
                                              environment_, root_ + "/sim.log");
        ASSERT_TRUE(Within(10s, [&] { return std::filesystem::is_symlink(Link(1)); }));
    }

    // Starts the hub and waits for its command socket and for the links of `virtualPorts`.
    void StartHub(std::initializer_list<int> virtualPorts) {
        hub_ = std::make_unique<ChildProcess>(std::vector<std::string>{TAVRO_PATH, "run"},
                                              environment_, root_ + "/hub.log");
        ASSERT_TRUE(Within(10s, [&] {
            return std::filesystem::exists(root_ + "/dev/TavroMsgWnd");
        })) << "the hub publishes its command socket";
        for (const int port : virtualPorts) {
            ASSERT_TRUE(std::filesystem::is_symlink(Link(port))) << "COM" << port;
        }
    }

    // The first line of `tavro status`: the status line.
    std::string Status() {
        std::string output;
        Tavro({"status"}, output);
        return output.substr(0, output.find('\n') + 1);
    }

    bool StreamArrives() {
        return Within(streamPatience, [&] { return Status().rfind("NMEA Stream", 0) == 0; });
    }

    // A client program on COM<n>, its received bytes in <name>.out.
    ChildProcess& StartClient(int comNumber, const std::string& name) {
        clients_.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{TEST_CLIENT_PATH, Link(comNumber), Output(name)}, environment_,
            root_ + "/" + name + ".log", true));
        EXPECT_TRUE(Within(10s, [&] { return std::filesystem::exists(Output(name)); }))
            << name << " opened COM" << comNumber;
        return *clients_.back();
    }

    std::string Output(const std::string& name) const { return root_ + "/" + name + ".out"; }
    std::string Received(const std::string& name) const { return FileText(Output(name)); }

    bool Receives(const std::string& name, const std::string& what, size_t times = 1,
                  std::chrono::milliseconds timeout = streamPatience) {
        return Within(timeout, [&] { return Count(Received(name), what) >= times; });
    }

    std::string root_;
    Environment environment_;
    std::unique_ptr<ChildProcess> sim_;
    std::unique_ptr<ChildProcess> hub_;
    std::vector<std::unique_ptr<ChildProcess>> clients_;
};

} // namespace tavro::testing
