// The simulated receiver on virtual time: what goes out, when, and how commands change it.
#include "tools/gps-sim/Simulator.h"

#include "tools/gps-sim/NmeaSentence.h"

#include "tests/tools/SentenceCheck.h"

#include <gtest/gtest.h>

namespace tavro::gpssim {
namespace {

using testing::ChecksumHolds;
using testing::CompleteLines;
using testing::Fields;

constexpr int64_t utcStart = 1700000000000; // 2023-11-14 22:13:20 UTC
constexpr double utcStartOfDay = 22 * 3600 + 13 * 60 + 20;

// "hhmmss.sss" as seconds of the day.
double SecondsOfDay(const std::string& field) {
    return std::stoi(field.substr(0, 2)) * 3600 + std::stoi(field.substr(2, 2)) * 60 +
           std::stod(field.substr(4));
}

class SimulatorTest : public ::testing::Test {
protected:
    void Start(SimulatorSettings settings = SimulatorSettings{},
               const Recording* recording = nullptr) {
        settings.drive.startUtcMs = utcStart;
        simulator_ = std::make_unique<Simulator>(settings, 0, recording);
        now_ = 0;
    }

    // Runs the line for `milliseconds` in 10 ms steps, heard at `lineBaud`.
    std::string Run(uint64_t milliseconds, uint32_t lineBaud) {
        std::string heard;
        uint8_t buffer[4096];
        for (uint64_t end = now_ + milliseconds; now_ < end;) {
            now_ += 10;
            const size_t count = simulator_->Transmit(now_, utcStart + static_cast<int64_t>(now_),
                                                      lineBaud, buffer, sizeof buffer);
            heard.append(reinterpret_cast<const char*>(buffer), count);
        }
        return heard;
    }

    // The sentences of one kind; the first line counts when the output started with it.
    static std::vector<std::string> Sentences(const std::string& heard, const char* prefix,
                                              bool firstIsWhole = false) {
        std::vector<std::string> found;
        for (const std::string& line : CompleteLines(heard, firstIsWhole)) {
            if (line.rfind(prefix, 0) == 0) {
                found.push_back(line);
            }
        }
        return found;
    }

    std::unique_ptr<Simulator> simulator_;
    uint64_t now_ = 0;
};

TEST_F(SimulatorTest, DrivesAtOneFixPerSecondWithinTheLineRate) {
    Start();
    const std::string heard = Run(10000, 4800);
    EXPECT_LE(heard.size(), 4800u + 48u) << "never faster than 480 bytes per second";
    const auto lines = CompleteLines(heard, true);
    ASSERT_GT(lines.size(), 40u);
    for (const std::string& line : lines) {
        EXPECT_TRUE(ChecksumHolds(line)) << line;
    }
    // Fixes at 1 s, 2 s ... 10 s; the last is still on the line.
    const auto rmc = Sentences(heard, "$GPRMC", true);
    const auto gga = Sentences(heard, "$GPGGA", true);
    EXPECT_EQ(rmc.size(), 9u);
    EXPECT_EQ(gga.size(), 9u);
    // Time steps by one second from fix to fix; every fix is a 3D fix.
    for (size_t i = 1; i < gga.size(); ++i) {
        EXPECT_DOUBLE_EQ(SecondsOfDay(Fields(gga[i])[1]) - SecondsOfDay(Fields(gga[i - 1])[1]), 1.0)
            << gga[i - 1] << gga[i];
        EXPECT_EQ(Fields(gga[i])[6], "1");
    }
    for (const auto& gsa : Sentences(heard, "$GPGSA")) {
        EXPECT_EQ(Fields(gsa)[2], "3");
    }
    for (const auto& sentence : rmc) {
        EXPECT_EQ(Fields(sentence)[2], "A");
        EXPECT_EQ(Fields(sentence)[9], "141123") << "2023-11-14";
    }
}

TEST_F(SimulatorTest, AtTheWrongSpeedTheLineCarriesOnlyNoise) {
    Start();
    const std::string wrong = Run(3000, 9600);
    EXPECT_GT(wrong.size(), 500u) << "a receiver heard at the wrong speed is not silent";
    EXPECT_EQ(wrong.find('$'), std::string::npos);
    // Set right, the stream is readable again from the next sentence on.
    const std::string right = Run(3000, 4800);
    const auto lines = CompleteLines(right, false);
    ASSERT_GT(lines.size(), 5u);
    for (const std::string& line : lines) {
        EXPECT_TRUE(ChecksumHolds(line)) << line;
    }
}

TEST_F(SimulatorTest, WithoutGarbageTheSpeedDoesNotMatter) {
    SimulatorSettings settings;
    settings.garbage = false;
    Start(settings);
    const auto lines = CompleteLines(Run(3000, 115200), true);
    ASSERT_GT(lines.size(), 5u);
    EXPECT_TRUE(ChecksumHolds(lines.front()));
}

TEST_F(SimulatorTest, SpeedChangeAnswersThenSwitchesAndFollowsTheLine) {
    Start();
    Run(1500, 4800);
    simulator_->Receive(FrameSentence("PMTK251,9600"), 4800);
    const std::string before = Run(1500, 4800);
    // The acknowledgement still at 4800, then noise: the line is still at the old speed.
    const size_t ack = before.find("$PMTK001,251,3*");
    ASSERT_NE(ack, std::string::npos);
    EXPECT_EQ(simulator_->Baud(), 9600u);
    const size_t afterAck = before.find('\n', ack) + 1;
    EXPECT_EQ(before.find('$', afterAck), std::string::npos);

    // Commands sent at the old speed are noise to the receiver now.
    simulator_->Receive(FrameSentence("PMTK400"), 4800);
    const std::string ignored = Run(1500, 9600);
    EXPECT_EQ(ignored.find("$PMTK500"), std::string::npos);
    auto events = simulator_->TakeEvents();
    EXPECT_NE(std::find(events.begin(), events.end(), "now at 9600 baud"), events.end());

    // At 9600 it talks and listens.
    simulator_->Receive(FrameSentence("PMTK400"), 9600);
    const std::string after = Run(3000, 9600);
    EXPECT_NE(after.find("$PMTK500,1000,0,0,0,0*1A\r\n"), std::string::npos);
    const auto lines = CompleteLines(after, false);
    ASSERT_GT(lines.size(), 5u);
    for (const std::string& line : lines) {
        EXPECT_TRUE(ChecksumHolds(line)) << line;
    }
}

TEST_F(SimulatorTest, FixIntervalAndRatesShapeTheOutput) {
    SimulatorSettings settings;
    settings.baud = 115200;
    Start(settings);
    Run(500, 115200);
    simulator_->Receive(FrameSentence("PMTK300,200,0,0,0,0") +
                            FrameSentence("PMTK314,0,1,0,0,0,5,0,0,0,0,0,0,0,0,0,0,0,0,0"),
                        115200);
    Run(1000, 115200);
    const std::string heard = Run(4000, 115200);
    const auto rmc = Sentences(heard, "$GPRMC");
    EXPECT_GE(rmc.size(), 19u);
    EXPECT_LE(rmc.size(), 21u) << "five fixes a second";
    EXPECT_TRUE(Sentences(heard, "$GPGGA").empty()) << "GGA switched off";
    const size_t gsvGroups = Sentences(heard, "$GPGSV").size();
    EXPECT_GE(gsvGroups, 3u * 3u);
    EXPECT_LE(gsvGroups, 5u * 3u) << "GSV every fifth fix";
    for (size_t i = 1; i < rmc.size(); ++i) {
        EXPECT_NEAR(SecondsOfDay(Fields(rmc[i])[1]) - SecondsOfDay(Fields(rmc[i - 1])[1]), 0.2,
                    1e-6)
            << rmc[i];
    }
    // The queries tell what was obeyed.
    simulator_->Receive(FrameSentence("PMTK400") + FrameSentence("PMTK414"), 115200);
    const std::string answers = Run(200, 115200);
    EXPECT_NE(answers.find("$PMTK500,200,0,0,0,0*"), std::string::npos);
    EXPECT_NE(answers.find(FrameSentence("PMTK514,0,1,0,0,0,5,0,0,0,0,0,0,0,0,0,0,0,0,0")),
              std::string::npos);
}

TEST_F(SimulatorTest, OutputThatOutgrowsTheLineDropsFixesInsteadOfFallingBehind) {
    Start();
    // Every sentence at 10 fixes a second cannot fit 4800 baud.
    simulator_->Receive(FrameSentence("PMTK314,1,1,1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,1,1") +
                            FrameSentence("PMTK300,100,0,0,0,0"),
                        4800);
    Run(20000, 4800);
    const std::string late = Run(3000, 4800);
    const auto rmc = Sentences(late, "$GPRMC");
    ASSERT_FALSE(rmc.empty());
    // What arrives is recent: stamped less than two seconds before it is heard.
    const double heardAt = utcStartOfDay + static_cast<double>(now_) / 1000;
    EXPECT_LT(heardAt - SecondsOfDay(Fields(rmc.back())[1]), 2.0) << rmc.back();
    const auto events = simulator_->TakeEvents();
    EXPECT_NE(
        std::find_if(events.begin(), events.end(),
                     [](const std::string& e) { return e.find("overrun") != std::string::npos; }),
        events.end());
}

TEST_F(SimulatorTest, ReplayLoopsThroughTheRecordingAtTheLineRate) {
    Recording recording;
    std::string error;
    const std::string body =
        FrameSentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W");
    ASSERT_TRUE(Recording::FromBytes("# header\n" + body, recording, error));
    Start(SimulatorSettings{}, &recording);
    const std::string heard = Run(10000, 4800);
    EXPECT_NEAR(static_cast<double>(heard.size()), 4800, 50);
    ASSERT_GE(heard.size(), body.size() * 10);
    EXPECT_EQ(heard.substr(0, body.size() * 10), [&] {
        std::string repeated;
        for (int i = 0; i < 10; ++i) {
            repeated += body;
        }
        return repeated;
    }());
}

TEST_F(SimulatorTest, ReplayOncePlaysTheRecordingOnceThenIsSilent) {
    Recording recording;
    std::string error;
    const std::string body =
        FrameSentence("GNGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,M,,");
    ASSERT_TRUE(Recording::FromBytes(body + body, recording, error));
    SimulatorSettings settings;
    settings.replayOnce = true;
    Start(settings, &recording);
    EXPECT_EQ(Run(5000, 4800), body + body);
    simulator_->Receive(FrameSentence("PMTK400"), 4800);
    EXPECT_EQ(Run(1000, 4800).rfind("$PMTK500", 0), 0u) << "commands are still answered";
}

TEST_F(SimulatorTest, RepliesNeverCutASirfFrame) {
    Recording recording;
    std::string error;
    std::string frame("\xA0\xA2\x00\x20", 4);
    frame += std::string(32, '\x29');
    frame += std::string("\x05\x20\xB0\xB3", 4);
    ASSERT_TRUE(Recording::FromBytes(frame, recording, error));
    Start(SimulatorSettings{}, &recording);
    Run(105, 4800); // part of a frame is on the line
    simulator_->Receive(FrameSentence("PMTK400"), 4800);
    const std::string heard = Run(2000, 4800);
    const size_t reply = heard.find("$PMTK500");
    ASSERT_NE(reply, std::string::npos);
    ASSERT_GE(reply, 2u);
    EXPECT_EQ(heard.substr(reply - 2, 2), "\xB0\xB3") << "the reply follows a whole frame";
    const size_t resume = heard.find('\n', reply) + 1;
    EXPECT_EQ(heard.substr(resume, frame.size()), frame);
}

} // namespace
} // namespace tavro::gpssim
