// SPDX-License-Identifier: Apache-2.0
// The Windows hub's report as a dashboard gets it: a request through a mapping of its own, the
// hub's answer from DescribeHub, the answer read back and shown as the shared JSON in the
// Windows edition's words. The hub runs in memory with the driver in process.
#include "hub/ui/HubReporter.h"
#include "hub/ui/ReportRequest.h"
#include "hub/ui/WindowsWording.h"
#include "tests/engine/HubEngineFixture.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro::testing {
namespace {

constexpr uint32_t dashboardProcess = 4242;

std::string CodeWords(uint32_t code) {
    return "error " + std::to_string(code);
}

class HubReportTest : public HubEngineFixture {
protected:
    // What the dashboard does each time it looks: a new request, the command, the answer.
    bool Ask(HubReport& report) {
        if (!request_.Prepare()) {
            return false;
        }
        reporter_.Answer(request_.Payload(), sizeof(uint32_t));
        return request_.Take(report);
    }

    HubReportBlock& Shared() {
        platform::SharedView view;
        EXPECT_EQ(memory_.Open("TavroReport4242", view), error::success);
        return *static_cast<HubReportBlock*>(view.data);
    }

    HubReporter reporter_{engine_, memory_, 77, "1.2.3"};
    ReportRequest request_{memory_, dashboardProcess};
};

TEST_F(HubReportTest, ADashboardSeesEachPortsProgramsAndTrafficAndAPortLeftEmpty) {
    StartAndOpen();
    auto first = Application(firstVirtualCom);
    auto second = Application(firstVirtualCom + 1);
    Receive(validRmc);
    ASSERT_EQ(first->Write("$PMTK000*32\r\n"), error::success);
    Tick(); // the exchange takes it for the receiver

    HubReport report;
    ASSERT_TRUE(Ask(report));
    EXPECT_EQ(report.version, "1.2.3");
    EXPECT_EQ(report.pid, 77);
    EXPECT_TRUE(report.inputOpen);
    EXPECT_EQ(report.inputPort, receiverCom);
    EXPECT_TRUE(report.portsEnabled);
    for (uint32_t k = 0; k < 2; ++k) {
        const VirtualPortReport& port = report.ports[k];
        EXPECT_EQ(port.comNumber, firstVirtualCom + k);
        EXPECT_EQ(port.terminal, "\\\\.\\COM" + std::to_string(firstVirtualCom + k));
        EXPECT_EQ(port.programs, 1u) << k;
        EXPECT_TRUE(port.hasCounters);
        EXPECT_EQ(port.bytesRelayed, control_.broadcast.size()) << k;
    }
    EXPECT_EQ(report.ports[0].bytesWritten, 13u);
    EXPECT_EQ(report.ports[1].bytesWritten, 0u);
    EXPECT_EQ(report.ports[2].comNumber, 0u);

    second.reset(); // its program closes it
    Tick();
    ASSERT_TRUE(Ask(report));
    EXPECT_EQ(report.ports[1].programs, 0u);
    EXPECT_EQ(report.ports[0].programs, 1u);

    StatusFacts facts;
    facts.running = true;
    facts.hasReport = true;
    facts.block = Block();
    facts.report = report;
    const std::string json = StatusJson(facts, WindowsWording(CodeWords));
    EXPECT_NE(json.find("{\"number\":2,\"com\":8,\"link\":null,\"terminal\":\"\\\\\\\\.\\\\COM8\","
                        "\"programs\":0,\"bytesRelayed\":" +
                        std::to_string(control_.broadcast.size())),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"bytesWritten\":13,\"bytesRefused\":0}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"statusLine\":\"NMEA Stream"), std::string::npos) << json;
}

// Any program may send the command naming any process: only a mapping laid out as this hub
// writes it is written into, and an unanswered request never passes for an answer.
TEST_F(HubReportTest, OnlyARequestOfThisLayoutIsAnswered) {
    StartAndOpen();
    HubReport report;
    ASSERT_TRUE(request_.Prepare());
    EXPECT_FALSE(request_.Take(report)) << "a hub older than the command does not answer";

    for (const auto& spoil :
         {+[](HubReportBlock& b) { b.version = 2; }, +[](HubReportBlock& b) { b.size = 268; },
          +[](HubReportBlock& b) { b.signature = 0; }}) {
        ASSERT_TRUE(request_.Prepare());
        spoil(Shared());
        EXPECT_FALSE(reporter_.Answer(request_.Payload(), sizeof(uint32_t)));
        EXPECT_EQ(Shared().answered, 0u);
        EXPECT_EQ(Shared().inputPort, 0u) << "left untouched";
    }
    ASSERT_TRUE(request_.Prepare());
    EXPECT_FALSE(reporter_.Answer(request_.Payload(), 3)) << "a short payload";
    EXPECT_FALSE(reporter_.Answer(nullptr, 4));
    const uint32_t nobody = 99;
    EXPECT_FALSE(reporter_.Answer(&nobody, sizeof nobody)) << "no such mapping";
    EXPECT_TRUE(reporter_.Answer(request_.Payload(), sizeof(uint32_t)));
    EXPECT_TRUE(request_.Take(report));
}

// What to do, said in the main window's terms.
TEST_F(HubReportTest, TheWindowsWordsNameTheMainWindow) {
    const WindowsWording wording(CodeWords);
    HubReport report;
    report.inputPort = 4;
    const struct {
        uint32_t error;
        const char* fix;
    } cases[] = {
        {2, "COM4 is not there: plug the receiver in, or pick its port in the main window"},
        {5, "COM4 is busy: another program holds it"},
        {31, "opening COM4 failed: error 31"},
    };
    for (const auto& c : cases) {
        report.lastOpenError = c.error;
        EXPECT_EQ(wording.InputPortFix(report).rfind(c.fix, 0), 0u) << wording.InputPortFix(report);
    }
    StatusFacts facts;
    facts.running = true;
    facts.hasReport = true;
    facts.report.ports[0].comNumber = 7;
    facts.report.portsEnabled = false;
    EXPECT_EQ(wording.Warnings(facts),
              std::vector<std::string>{
                  "the virtual ports are off: tick \"Enable Ports\" in the main window"});
    facts.responding = false;
    EXPECT_EQ(wording.Warnings(facts).at(0).rfind("the hub does not answer within 500 ms", 0), 0u);
}

} // namespace
} // namespace tavro::testing
