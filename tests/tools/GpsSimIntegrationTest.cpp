// gps-sim as a program: started on its pseudo-terminal, reached through the COM directory and
// the POSIX serial port adapter the way the hub reaches a receiver.
#include "platform/ErrorCodes.h"
#include "platform/SerialPort.h"
#include "tools/gps-sim/NmeaSentence.h"

#include "tests/platform/TestPty.h"
#include "tests/support/Corpus.h"
#include "tests/tools/SentenceCheck.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace tavro::gpssim {
namespace {

using namespace std::chrono_literals;
using platform::CommTimeouts;
using platform::Dcb;
using platform::SerialPort;
using platform::SerialSharing;
using platform::SystemSerialPorts;
using tavro::testing::Eventually;
using tavro::testing::TestComDirectory;
using testing::ChecksumHolds;
using testing::CompleteLines;

// One gps-sim process, stopped with SIGTERM at the end of the test.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> arguments) {
        pid_ = fork();
        if (pid_ == 0) {
            // Its messages would only clutter the test output; --log keeps them when wanted.
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
            std::vector<char*> argv;
            static std::string program = GPS_SIM_PATH;
            argv.push_back(program.data());
            for (std::string& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            execv(GPS_SIM_PATH, argv.data());
            _exit(127);
        }
    }
    ~SimProcess() {
        if (pid_ > 0) {
            Stop(SIGKILL);
        }
    }

    // Sends `signal` and returns the exit status (-1 if it did not end within 5 s).
    int Stop(int signal = SIGTERM) {
        if (pid_ <= 0) {
            return -1;
        }
        kill(pid_, signal);
        return Wait();
    }

    // Waits for the process to end by itself; its exit status, or -1 after 5 s.
    int Wait() {
        int status = 0;
        const bool ended =
            Eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 5000ms);
        if (!ended) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
};

Dcb HubLine(SerialPort& port, uint32_t speed) {
    Dcb state;
    EXPECT_EQ(port.GetCommState(state), error::success);
    state.BaudRate = speed;
    state.ByteSize = 8;
    state.Parity = platform::dcb::noParity;
    state.StopBits = platform::dcb::oneStopBit;
    SetDcbFlags(state, (DcbFlags(state) & ~0x232Cu) | 0x1013u);
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    state.XonLim = 0;
    state.XoffLim = 384;
    return state;
}

// Opens COM<n> as the hub opens its input port, at `speed`.
std::unique_ptr<SerialPort> OpenLikeTheHub(uint32_t comNumber, uint32_t speed) {
    uint32_t error = 0;
    auto port = SystemSerialPorts().Open(comNumber, SerialSharing::ReadWrite, error);
    EXPECT_EQ(error, error::success);
    if (port == nullptr) {
        return nullptr;
    }
    EXPECT_EQ(port->SetupComm(1024, 1024), error::success);
    CommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = platform::maxTimeout;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = 10000;
    EXPECT_EQ(port->SetCommTimeouts(timeouts), error::success);
    EXPECT_EQ(port->SetCommState(HubLine(*port, speed)), error::success);
    return port;
}

// Polls the port every 50 ms, as the hub's timer does, for `duration`.
std::string ReadFor(SerialPort& port, std::chrono::milliseconds duration) {
    std::string received;
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        uint32_t errors = 0;
        platform::ComStat status;
        EXPECT_EQ(port.ClearCommError(errors, status), error::success);
        if (status.cbInQue > 0) {
            char buffer[512];
            uint32_t got = 0;
            EXPECT_EQ(port.Read(buffer, status.cbInQue < 510 ? status.cbInQue : 510, got),
                      error::success);
            received.append(buffer, got);
        }
        std::this_thread::sleep_for(50ms);
    }
    return received;
}

void Send(SerialPort& port, const std::string& bytes) {
    uint32_t written = 0;
    ASSERT_EQ(port.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), written),
              error::success);
    ASSERT_EQ(written, bytes.size());
}

// The complete lines after the first (which may be cut), all with good checksums.
size_t GoodSentences(const std::string& received, const char* wanted) {
    size_t found = 0;
    for (const std::string& line : CompleteLines(received, false)) {
        EXPECT_TRUE(ChecksumHolds(line)) << line;
        found += line.rfind(wanted, 0) == 0 ? 1 : 0;
    }
    return found;
}

class GpsSimIntegrationTest : public ::testing::Test {
protected:
    bool LinkAppears(uint32_t comNumber) {
        return Eventually([&] { return std::filesystem::is_symlink(directory_.Link(comNumber)); });
    }

    TestComDirectory directory_;
};

TEST_F(GpsSimIntegrationTest, TheHubsPortSeesSentencesAndFollowsASpeedChange) {
    SimProcess sim(
        {"--com", "11", "--quiet", "--seed", "3", "--log", directory_.Path() + "/sim.log"});
    ASSERT_TRUE(LinkAppears(11));

    auto port = OpenLikeTheHub(11, 4800);
    ASSERT_NE(port, nullptr);
    const std::string at4800 = ReadFor(*port, 3500ms);
    EXPECT_GE(GoodSentences(at4800, "$GPGGA"), 2u);
    EXPECT_GE(GoodSentences(at4800, "$GPRMC"), 2u);

    // The setup tool's speed change, as the hub writes it to the receiver.
    Send(*port, FrameSentence("PMTK251,9600"));
    const std::string switching = ReadFor(*port, 2000ms);
    const size_t ack = switching.find("$PMTK001,251,3*");
    ASSERT_NE(ack, std::string::npos) << "acknowledged at the old speed";
    const std::string noise = switching.substr(switching.find('\n', ack) + 1);
    EXPECT_GT(noise.size(), 50u) << "the receiver keeps talking, now at 9600";
    EXPECT_EQ(noise.find('$'), std::string::npos) << "heard at 4800 it is noise";

    // Set to the new speed, the same handle reads sentences again, and commands get through.
    ASSERT_EQ(port->SetCommState(HubLine(*port, 9600)), error::success);
    const std::string at9600 = ReadFor(*port, 3000ms);
    EXPECT_GE(GoodSentences(at9600, "$GPGGA"), 2u);
    Send(*port, FrameSentence("PMTK400"));
    const std::string answer = ReadFor(*port, 2000ms);
    EXPECT_NE(answer.find("$PMTK500,1000,0,0,0,0*1A\r\n"), std::string::npos);

    // Closed and opened again, as the hub re-opens its port, the receiver is still there.
    port->Close();
    port = OpenLikeTheHub(11, 9600);
    ASSERT_NE(port, nullptr);
    EXPECT_GE(GoodSentences(ReadFor(*port, 2500ms), "$GPRMC"), 1u);
    port.reset();

    EXPECT_EQ(sim.Stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(directory_.Link(11))) << "its COM link is removed";
}

TEST_F(GpsSimIntegrationTest, ReplayRunsAtTheLineRate) {
    TAVRO_NEEDS_CORPUS();
    const std::string recording = tavro::testing::CorpusRoot() + "/gpsd/nmea/mt3339.log";
    SimProcess sim({"--com", "12", "--quiet", "--replay", recording});
    ASSERT_TRUE(LinkAppears(12));
    auto port = OpenLikeTheHub(12, 4800);
    ASSERT_NE(port, nullptr);
    ReadFor(*port, 500ms);
    const auto start = std::chrono::steady_clock::now();
    const std::string received = ReadFor(*port, 3000ms);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // 480 bytes a second at 4800 baud; the bounds only catch pacing that is plainly wrong.
    const double rate = static_cast<double>(received.size()) / seconds;
    EXPECT_GT(rate, 480 * 0.6);
    EXPECT_LT(rate, 480 * 1.4);
    EXPECT_GE(GoodSentences(received, "$GPGGA"), 2u);
    EXPECT_EQ(sim.Stop(SIGINT), 0);
}

TEST_F(GpsSimIntegrationTest, ALiveLinkIsNotTakenWithoutForce) {
    ASSERT_TRUE(directory_.AddLink(13, "/dev/null"));
    SimProcess refused({"--com", "13", "--quiet"});
    EXPECT_EQ(refused.Wait(), 1);
    EXPECT_EQ(std::filesystem::read_symlink(directory_.Link(13)), "/dev/null");

    SimProcess forced({"--com", "13", "--quiet", "--force"});
    ASSERT_TRUE(Eventually([&] {
        std::error_code ignored;
        return std::filesystem::canonical(directory_.Link(13), ignored)
                   .string()
                   .rfind("/dev/pts/", 0) == 0;
    }));
    EXPECT_EQ(forced.Stop(SIGINT), 0);
    EXPECT_FALSE(std::filesystem::exists(directory_.Link(13)));
}

TEST_F(GpsSimIntegrationTest, CommandLineErrorsAndHelp) {
    SimProcess help({"--help"});
    EXPECT_EQ(help.Wait(), 0);
    SimProcess missing({"--baud", "9600"});
    EXPECT_EQ(missing.Wait(), 2);
    SimProcess badReplay({"--com", "14", "--replay", directory_.Path() + "/none.log"});
    EXPECT_EQ(badReplay.Wait(), 1);
    EXPECT_FALSE(std::filesystem::exists(directory_.Link(14)));
}

} // namespace
} // namespace tavro::gpssim
