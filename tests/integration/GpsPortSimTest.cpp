// The input port against the receiver simulator on a real pseudo-terminal: the hub's timer
// ticks (exchange, then poll) are run by the test, the driver runs in process with a client
// program's handle on one virtual port, and the status block is a real shared mapping.
#include "hub/engine/GpsPort.h"
#include "hub/engine/HubContext.h"
#include "platform/ErrorCodes.h"
#include "platform/testing/RecordingSystemClock.h"
#include "sys/usermode/InProcessDriver.h"
#include "tests/integration/SimProcess.h"
#include "tests/platform/TestPty.h"

#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>

#include <atomic>
#include <fstream>
#include <functional>

namespace tavro::testing {
namespace {

using namespace std::chrono_literals;
using driver::usermode::ApplicationPort;
using driver::usermode::InProcessDriver;

// "$<body>*hh\r\n" with the checksum of `body`, or a wrong one.
std::string Sentence(const std::string& body, bool goodChecksum = true) {
    uint8_t sum = 0;
    for (char c : body) {
        sum ^= static_cast<uint8_t>(c);
    }
    char tail[8];
    snprintf(tail, sizeof tail, "*%02X\r\n", goodChecksum ? sum : sum ^ 0x5A);
    return "$" + body + tail;
}

// The system's serial ports, counting the opens.
class CountingSerialPorts final : public platform::SerialPorts {
public:
    std::unique_ptr<platform::SerialPort> Open(uint32_t comNumber, platform::SerialSharing sharing,
                                               uint32_t& error) override {
        ++opens;
        return platform::SystemSerialPorts().Open(comNumber, sharing, error);
    }
    std::atomic<int> opens{0};
};

class CountingTrackLog final : public TrackLog {
public:
    bool LogOpen() const override { return false; }
    void OpenLog(GpsPort&) override {}
    void FlushLog(GpsPort&) override {}
    void CloseLog(GpsPort&) override { ++closes; }
    int closes = 0;
};

constexpr uint32_t clientCom = 7;

class SimulatedReceiver : public ::testing::Test {
protected:
    SimulatedReceiver()
        : driver_({clientCom, 0, 0, 0, 0, 0, 0, 0}, InProcessDriver::Clock::RealTime),
          hub_({ports_, driver_.Control(), platform::SystemSharedMemory(), clock_,
                platform::SystemTiming()}) {
        static std::atomic<int> counter{0};
        shmName_ = "/tavro-it-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        setenv("TAVRO_SHM", shmName_.c_str(), 1);
        EXPECT_EQ(hub_.statusBlock.AttachHub(), error::success);
        EXPECT_EQ(driver_.Control().Open(controlDeviceName), error::success);
        port_ = &hub_.CreateInputPort(&log_);
        uint32_t error = 0;
        client_ = driver_.OpenPort(clientCom, error);
        EXPECT_NE(client_, nullptr);
    }
    ~SimulatedReceiver() override {
        client_.reset();
        hub_.DestroyInputPort();
        hub_.statusBlock.DetachHub();
        unsetenv("TAVRO_SHM");
    }

    // Starts gps-sim as COM<com> and waits for its link to appear.
    void StartReceiver(uint32_t com, std::vector<std::string> arguments) {
        sim_ =
            std::make_unique<SimProcess>(com, std::move(arguments), directory_.Path() + "/sim.log");
        ASSERT_TRUE(sim_->Started());
        ASSERT_TRUE(Eventually([&] { return std::filesystem::is_symlink(directory_.Link(com)); }));
        hub_.settings.port = com;
    }

    // Runs the hub's input steps (a re-open whose pause is over, the exchange, the read) every
    // 50 ms until `done` holds or `limit` passes.
    bool TickUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end) {
                return false;
            }
            port_->ReopenWhenDue();
            port_->DriverExchange();
            port_->Poll();
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }

    // What the timer loop does when reopenPending is set: close now, open after the pause.
    void ReopenAtTheRequestedSpeed() {
        hub_.reopenPending = 0;
        if (hub_.requestedBaud != 0) {
            hub_.settings.baud = hub_.requestedBaud;
            hub_.requestedBaud = 0;
        }
        port_->Close();
        port_->ReopenAfter(GpsPort::Reopen::Settings, 200);
    }

    std::string SimLog() const {
        std::ifstream file(directory_.Path() + "/sim.log");
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    GpsSharedStatus& Block() { return hub_.statusBlock.Block(); }

    TestComDirectory directory_;
    CountingSerialPorts ports_;
    InProcessDriver driver_;
    platform::RecordingSystemClock clock_;
    HubContext hub_;
    CountingTrackLog log_;
    GpsPort* port_ = nullptr;
    std::unique_ptr<ApplicationPort> client_;
    std::unique_ptr<SimProcess> sim_;
    std::string shmName_;
};

TEST_F(SimulatedReceiver, FramesReachTheParserTheStatusBlockAndTheVirtualPorts) {
    StartReceiver(21, {"--seed", "5", "--start", "47.5,8.25"});
    port_->Open();
    ASSERT_TRUE(port_->IsOpen()) << "error " << port_->lastOpenError;
    ASSERT_TRUE(TickUntil(
        [&] { return Block().rmcCount >= 2 && Block().fixState == uint8_t(FixState::Fix3D); }, 8s))
        << SimLog();
    EXPECT_EQ(Block().streamState, static_cast<uint8_t>(StreamState::NmeaStream));
    EXPECT_EQ(Block().comPort, 21);
    EXPECT_EQ(Block().baudRate, 4800u);
    EXPECT_EQ(Block().fixValid, 1);
    EXPECT_LT(fabs(Block().latitude - 47.5), 0.1);
    EXPECT_LT(fabs(Block().longitude - 8.25), 0.1);
    EXPECT_GT(Block().satsInView, 0);
    EXPECT_EQ(port_->checksumErrors, 0);

    // Another program sees the same block through the mapping, once the hub published it.
    hub_.statusBlock.Publish();
    StatusBlock reader(platform::SystemSharedMemory());
    ASSERT_EQ(reader.AttachReader(), error::success);
    EXPECT_EQ(reader.Block().rmcCount, Block().rmcCount);
    EXPECT_EQ(reader.Block().refCount, 2);
    reader.DetachReader();

    // The client program on COM7 received the stream as read.
    const std::string received = client_->ReadNow();
    EXPECT_NE(received.find("$GPRMC,"), std::string::npos);
    EXPECT_NE(received.find("$GPGGA,"), std::string::npos);
}

TEST_F(SimulatedReceiver, AClientsCommandsReachTheReceiverAndItsReplyIsDecoded) {
    StartReceiver(22, {"--seed", "6"});
    port_->Open();
    ASSERT_TRUE(port_->IsOpen());
    ASSERT_TRUE(TickUntil([&] { return Block().rmcCount >= 1; }, 5s));
    EXPECT_EQ(Block().replyFlags & replyFixInterval, 0);

    // The client writes on its virtual port; the next exchange carries it to the receiver.
    ASSERT_EQ(client_->Write(Sentence("PMTK220,500") + Sentence("PMTK400")), error::success);
    ASSERT_TRUE(TickUntil([&] { return (Block().replyFlags & replyFixInterval) != 0; }, 5s))
        << SimLog();
    EXPECT_EQ(Block().fixInterval, 500);
    EXPECT_NE(client_->ReadNow().find("$PMTK500,500,"), std::string::npos)
        << "the reply is relayed to the client as well";
}

TEST_F(SimulatedReceiver, ASpeedChangeEndsWithBothSidesAtTheNewSpeed) {
    StartReceiver(23, {"--seed", "7"});
    port_->Open();
    ASSERT_TRUE(port_->IsOpen());
    ASSERT_TRUE(TickUntil([&] { return Block().rmcCount >= 1; }, 5s));

    // The setup tool's sequence: the speed-change sentence through a virtual port, then
    // ChangeBaud, which only records the speed.
    ASSERT_EQ(client_->Write(Sentence("PMTK251,9600")), error::success);
    port_->DriverExchange();
    hub_.requestedBaud = 9600;
    ASSERT_TRUE(TickUntil([&] { return hub_.reopenPending != 0; }, 5s))
        << "the first plain frame asks for the re-open";
    EXPECT_EQ(hub_.requestedBaud, 9600u);

    ReopenAtTheRequestedSpeed();
    ASSERT_TRUE(TickUntil([&] { return port_->IsOpen(); }, 2s));
    EXPECT_EQ(hub_.settings.baud, 9600u);
    EXPECT_EQ(Block().baudRate, 9600u);

    const int32_t before = Block().rmcCount;
    ASSERT_TRUE(TickUntil([&] { return Block().rmcCount >= before + 2; }, 8s)) << SimLog();
    EXPECT_EQ(port_->checksumErrors, 0);
    EXPECT_EQ(Block().fixState, static_cast<uint8_t>(FixState::Fix3D));
    // Commands get through at the new speed too.
    ASSERT_EQ(client_->Write(Sentence("PMTK400")), error::success);
    ASSERT_TRUE(TickUntil([&] { return (Block().replyFlags & replyFixInterval) != 0; }, 5s))
        << SimLog();
    EXPECT_EQ(Block().fixInterval, 1000);
}

TEST_F(SimulatedReceiver, SixBadFramesWithTheFilterOnReopenThePort) {
    // A recording whose first six sentences fail their checksums, then good ones.
    const std::string replay = directory_.Path() + "/bad.nmea";
    {
        std::ofstream file(replay, std::ios::binary);
        file << "# six bad sentences, then good ones\n";
        for (int i = 0; i < 6; ++i) {
            file << Sentence("GPGGA,12000" + std::to_string(i) +
                                 ",4807.038,N,01131.000,E,1,08,"
                                 "0.9,545.4,M,46.9,M,,",
                             false);
        }
        for (int i = 0; i < 10; ++i) {
            file << Sentence("GPRMC,12001" + std::to_string(i) +
                             ",A,4807.038,N,01131.000,E,022.4,084.4,230313,003.1,W");
        }
    }
    hub_.settings.optionFlags = OptionFlags::nmeaFilter;
    StartReceiver(24, {"--replay", replay});
    port_->Open();
    ASSERT_TRUE(port_->IsOpen());
    ASSERT_TRUE(TickUntil([&] { return ports_.opens >= 2 && port_->IsOpen(); }, 10s))
        << "no recovery: " << int(port_->checksumErrors) << " errors\n"
        << SimLog();
    EXPECT_GE(log_.closes, 1) << "the log is closed with the port";
    EXPECT_GE(Block().streamState, static_cast<uint8_t>(StreamState::PortOpen));
    EXPECT_EQ(Block().comPort, 24);

    // The re-opened port reads on; only verified sentences reach the client.
    client_->ReadNow(16384);
    const int32_t before = Block().rmcCount;
    ASSERT_TRUE(TickUntil([&] { return Block().rmcCount >= before + 2; }, 8s));
    const std::string relayed = client_->ReadNow(16384);
    EXPECT_NE(relayed.find("$GPRMC,12001"), std::string::npos);
    EXPECT_EQ(relayed.find("$GPGGA,"), std::string::npos) << "bad sentences are not relayed";
}

TEST_F(SimulatedReceiver, TheRecoveryReopensAtAPendingRequestedSpeed) {
    // The receiver talks at 9600 while the hub listens at 4800: noise, frame after frame.
    hub_.settings.optionFlags = OptionFlags::nmeaFilter;
    StartReceiver(25, {"--baud", "9600", "--seed", "8"});
    hub_.requestedBaud = 9600;
    port_->Open();
    ASSERT_TRUE(port_->IsOpen());
    ASSERT_TRUE(TickUntil([&] { return port_->baudRate == 9600 && Block().rmcCount >= 2; }, 25s))
        << int(port_->checksumErrors) << " errors, " << ports_.opens << " opens\n"
        << SimLog();
    EXPECT_EQ(hub_.requestedBaud, 0u);
    EXPECT_EQ(Block().baudRate, 9600u);
    EXPECT_EQ(hub_.settings.baud, 4800u) << "the recovery does not change the setting";
    EXPECT_EQ(ports_.opens, 2);
}

} // namespace
} // namespace tavro::testing
