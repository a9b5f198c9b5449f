// The POSIX serial port adapter on real pseudo-terminals linked into a private COM directory.
#include "platform/SerialPort.h"

#include "common/SpeedTable.h"
#include "platform/ErrorCodes.h"
#include "platform/posix/LineSpeed.h"
#include "tests/platform/TestPty.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>

namespace tavro::platform {
namespace {

using tavro::testing::Eventually;
using tavro::testing::TestComDirectory;
using tavro::testing::TestPty;
using namespace std::chrono_literals;

constexpr uint32_t comNumber = 7;

// The time-outs the hub gives its input port: reads return at once, writes give up after
// 10 s plus 1 ms per byte.
CommTimeouts HubTimeouts() {
    CommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = maxTimeout;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = 10000;
    return timeouts;
}

// The line settings the hub applies to every port it opens (8N1, DTR and RTS on, no flow
// control), on top of what the system reported.
Dcb HubLine(Dcb state, uint32_t speed) {
    state.DCBlength = 28;
    state.BaudRate = speed;
    state.ByteSize = 8;
    state.Parity = dcb::noParity;
    state.StopBits = dcb::oneStopBit;
    SetDcbFlags(state, (DcbFlags(state) & ~0x232Cu) | 0x1013u);
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    state.XonLim = 0;
    state.XoffLim = 384;
    return state;
}

class PosixSerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.Valid());
        ASSERT_TRUE(directory_.AddLink(comNumber, pty_.SlavePath()));
    }

    std::unique_ptr<SerialPort> Open(SerialSharing sharing = SerialSharing::ReadWrite) {
        uint32_t error = 12345;
        auto port = SystemSerialPorts().Open(comNumber, sharing, error);
        EXPECT_EQ(error, error::success);
        EXPECT_NE(port, nullptr);
        return port;
    }

    static uint32_t Queued(SerialPort& port) {
        uint32_t errors = 0;
        ComStat status;
        EXPECT_EQ(port.ClearCommError(errors, status), error::success);
        return status.cbInQue;
    }

    TestComDirectory directory_;
    TestPty pty_;
};

TEST_F(PosixSerialPortTest, MissingPortsReportFileNotFound) {
    uint32_t error = 0;
    EXPECT_EQ(SystemSerialPorts().Open(comNumber + 1, SerialSharing::ReadWrite, error), nullptr);
    EXPECT_EQ(error, error::fileNotFound);

    // A link whose device went away (an unplugged adapter) is a missing port too.
    ASSERT_TRUE(directory_.AddLink(9, directory_.Path() + "/no-such-device"));
    EXPECT_EQ(SystemSerialPorts().Open(9, SerialSharing::None, error), nullptr);
    EXPECT_EQ(error, error::fileNotFound);

    EXPECT_EQ(SystemSerialPorts().Open(0, SerialSharing::ReadWrite, error), nullptr);
    EXPECT_EQ(error, error::fileNotFound);
}

TEST_F(PosixSerialPortTest, ALinkToSomethingThatIsNotATerminalIsRefused) {
    ASSERT_TRUE(directory_.AddLink(10, "/dev/null"));
    uint32_t error = 0;
    EXPECT_EQ(SystemSerialPorts().Open(10, SerialSharing::ReadWrite, error), nullptr);
    EXPECT_EQ(error, error::invalidFunction);
}

TEST_F(PosixSerialPortTest, ATerminalNewerThanItsLinkIsNotFollowedNorTouched) {
    // The link was made for an earlier terminal of that number: this one, made (here: given
    // a new change time) after the link, belongs to somebody else.
    const int slave = open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    before.c_lflag |= ECHO | ICANON;
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
    ASSERT_TRUE(pty_.Send("typed ahead\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    struct stat info {};
    ASSERT_EQ(stat(pty_.SlavePath().c_str(), &info), 0);
    ASSERT_EQ(chmod(pty_.SlavePath().c_str(), info.st_mode & 07777), 0);

    uint32_t error = 0;
    EXPECT_EQ(SystemSerialPorts().Open(comNumber, SerialSharing::ReadWrite, error), nullptr);
    EXPECT_EQ(error, error::fileNotFound);
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag) << "its modes are untouched";
    int pending = 0;
    ASSERT_EQ(ioctl(slave, FIONREAD, &pending), 0);
    EXPECT_GT(pending, 0) << "its pending input is untouched";
    close(slave);

    // A link made afresh for it leads there again.
    ASSERT_EQ(unlink(directory_.Link(comNumber).c_str()), 0);
    ASSERT_TRUE(directory_.AddLink(comNumber, pty_.SlavePath()));
    EXPECT_NE(Open(), nullptr);
}

TEST_F(PosixSerialPortTest, ShareModesBehaveAsOnWindows) {
    uint32_t error = 0;
    {
        auto exclusive = Open(SerialSharing::None);
        EXPECT_EQ(SystemSerialPorts().Open(comNumber, SerialSharing::None, error), nullptr);
        EXPECT_EQ(error, error::accessDenied);
        EXPECT_EQ(SystemSerialPorts().Open(comNumber, SerialSharing::ReadWrite, error), nullptr);
        EXPECT_EQ(error, error::accessDenied);
    }
    {
        auto first = Open(SerialSharing::ReadWrite);
        auto second = Open(SerialSharing::ReadWrite);
        EXPECT_EQ(SystemSerialPorts().Open(comNumber, SerialSharing::None, error), nullptr);
        EXPECT_EQ(error, error::accessDenied);
        first->Close();
        EXPECT_EQ(SystemSerialPorts().Open(comNumber, SerialSharing::None, error), nullptr);
        EXPECT_EQ(error, error::accessDenied) << "the second sharer still has it";
        second->Close();
    }
    // Closing released the port.
    EXPECT_NE(Open(SerialSharing::None), nullptr);
}

TEST_F(PosixSerialPortTest, APortHeldByAnotherProcessGivesAccessDenied) {
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        uint32_t error = 0;
        auto port = SystemSerialPorts().Open(comNumber, SerialSharing::None, error);
        const char status = port != nullptr ? 'y' : 'n';
        (void)!write(ready[1], &status, 1);
        char ignored = 0;
        (void)!read(release[0], &ignored, 1);
        _exit(0);
    }
    char status = 0;
    ASSERT_EQ(read(ready[0], &status, 1), 1);
    ASSERT_EQ(status, 'y');
    uint32_t error = 0;
    EXPECT_EQ(SystemSerialPorts().Open(comNumber, SerialSharing::ReadWrite, error), nullptr);
    EXPECT_EQ(error, error::accessDenied);
    EXPECT_EQ(SystemSerialPorts().Open(comNumber, SerialSharing::None, error), nullptr);
    EXPECT_EQ(error, error::accessDenied);
    (void)!write(release[1], "x", 1);
    int childStatus = 0;
    waitpid(child, &childStatus, 0);
    // The process ended, its hold with it.
    EXPECT_NE(Open(SerialSharing::None), nullptr);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) {
        close(fd);
    }
}

TEST_F(PosixSerialPortTest, ReadsReturnAtOnceWithWhatIsQueued) {
    auto port = Open();
    ASSERT_EQ(port->SetupComm(1024, 1024), error::success);
    ASSERT_EQ(port->SetCommTimeouts(HubTimeouts()), error::success);

    char buffer[512];
    uint32_t got = 99;
    EXPECT_EQ(port->Read(buffer, sizeof buffer, got), error::success);
    EXPECT_EQ(got, 0u) << "nothing queued: the read must not wait";

    const std::string sentence =
        "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
    ASSERT_TRUE(pty_.Send(sentence + sentence));
    ASSERT_TRUE(Eventually([&] { return Queued(*port) == 2 * sentence.size(); }));

    // A partial read leaves the rest counted as queued.
    ASSERT_EQ(port->Read(buffer, static_cast<uint32_t>(sentence.size()), got), error::success);
    EXPECT_EQ(std::string(buffer, got), sentence);
    EXPECT_EQ(Queued(*port), sentence.size());
    ASSERT_EQ(port->Read(buffer, sizeof buffer, got), error::success);
    EXPECT_EQ(std::string(buffer, got), sentence);
    EXPECT_EQ(Queued(*port), 0u);
}

TEST_F(PosixSerialPortTest, QueuedCountFollowsALargeBurst) {
    auto port = Open();
    ASSERT_EQ(port->SetCommTimeouts(HubTimeouts()), error::success);
    std::string burst(700, '\0');
    for (size_t i = 0; i < burst.size(); ++i) {
        burst[i] = static_cast<char>(i * 7); // binary, with XON, XOFF, CR and NUL among them
    }
    ASSERT_TRUE(pty_.Send(burst));
    ASSERT_TRUE(Eventually([&] { return Queued(*port) == 700; }));
    std::string received(700, '\0');
    uint32_t got = 0;
    ASSERT_EQ(port->Read(received.data(), 510, got), error::success);
    EXPECT_EQ(got, 510u);
    EXPECT_EQ(Queued(*port), 190u);
    uint32_t rest = 0;
    ASSERT_EQ(port->Read(received.data() + 510, 190, rest), error::success);
    EXPECT_EQ(received, burst) << "raw bytes must pass unchanged";
}

TEST_F(PosixSerialPortTest, WritesReachTheDeviceAndTheDeviceReachesTheReader) {
    auto port = Open();
    ASSERT_EQ(port->SetCommTimeouts(HubTimeouts()), error::success);
    const std::string command = "$PMTK414*33\r\n";
    uint32_t written = 0;
    ASSERT_EQ(port->Write(command.data(), static_cast<uint32_t>(command.size()), written),
              error::success);
    EXPECT_EQ(written, command.size());
    EXPECT_EQ(pty_.Receive(command.size(), 3000ms), command) << "no CR/LF translation, no echo";

    const std::string reply = "$PMTK514,0,1,0,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*2C\r\n";
    ASSERT_TRUE(pty_.Send(reply));
    ASSERT_TRUE(Eventually([&] { return Queued(*port) == reply.size(); }));
    char buffer[128];
    uint32_t got = 0;
    ASSERT_EQ(port->Read(buffer, sizeof buffer, got), error::success);
    EXPECT_EQ(std::string(buffer, got), reply);
}

TEST_F(PosixSerialPortTest, OpeningAlonePurgesStaleInputButNotAnotherUsersQueue) {
    {
        auto earlier = Open();
        ASSERT_TRUE(pty_.Send("stale bytes"));
        ASSERT_TRUE(Eventually([&] { return Queued(*earlier) == 11; }));
    }
    auto port = Open();
    EXPECT_EQ(Queued(*port), 0u);

    ASSERT_TRUE(pty_.Send("fresh"));
    ASSERT_TRUE(Eventually([&] { return Queued(*port) == 5; }));
    auto sharer = Open();
    EXPECT_EQ(Queued(*port), 5u) << "a second shared open must not take the first one's bytes";
}

TEST_F(PosixSerialPortTest, HubLineSettingsRoundTripAtEverySearchSpeed) {
    auto port = Open();
    for (const uint32_t speed : speedTable) {
        SCOPED_TRACE(speed);
        Dcb reported;
        ASSERT_EQ(port->GetCommState(reported), error::success);
        const Dcb wanted = HubLine(reported, speed);
        ASSERT_EQ(port->SetCommState(wanted), error::success);

        Dcb back;
        ASSERT_EQ(port->GetCommState(back), error::success);
        EXPECT_EQ(back.BaudRate, speed);
        EXPECT_EQ(back.ByteSize, 8);
        EXPECT_EQ(back.Parity, dcb::noParity);
        EXPECT_EQ(back.StopBits, dcb::oneStopBit);
        EXPECT_EQ(DcbFlags(back), DcbFlags(wanted));
        EXPECT_EQ(back.XonChar, 0x11);
        EXPECT_EQ(back.XoffChar, 0x13);
        EXPECT_EQ(back.XonLim, 0);
        EXPECT_EQ(back.XoffLim, 384);

        // What the line really is, seen from the other end of the pseudo-terminal.
        uint32_t lineSpeed = 0;
        ASSERT_TRUE(posix::GetLineSpeed(pty_.Master(), lineSpeed));
        EXPECT_EQ(lineSpeed, speed);
        termios settings{};
        ASSERT_EQ(tcgetattr(pty_.Master(), &settings), 0);
        EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
        EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    }
}

TEST_F(PosixSerialPortTest, StopBitsAndFlowControlReachTheLine) {
    auto port = Open();
    Dcb wanted;
    ASSERT_EQ(port->GetCommState(wanted), error::success);
    wanted.BaudRate = 19200;
    wanted.StopBits = dcb::twoStopBits;
    wanted.fOutX = 1;
    wanted.fInX = 1;
    wanted.fOutxCtsFlow = 1;
    wanted.fRtsControl = dcb::rtsControlHandshake;
    wanted.XonChar = 0x01;
    wanted.XoffChar = 0x02;
    wanted.XoffLim = 77; // no termios counterpart: kept for GetCommState
    ASSERT_EQ(port->SetCommState(wanted), error::success);

    termios settings{};
    ASSERT_EQ(tcgetattr(pty_.Master(), &settings), 0);
    EXPECT_EQ(settings.c_cflag & (CSTOPB | CRTSCTS), static_cast<tcflag_t>(CSTOPB | CRTSCTS));
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(settings.c_cc[VSTART], 0x01);
    EXPECT_EQ(settings.c_cc[VSTOP], 0x02);

    Dcb back;
    ASSERT_EQ(port->GetCommState(back), error::success);
    EXPECT_EQ(DcbFlags(back), DcbFlags(wanted));
    EXPECT_EQ(back.StopBits, dcb::twoStopBits);
    EXPECT_EQ(back.XoffLim, 77);
}

TEST_F(PosixSerialPortTest, AFormatTheDeviceCannotCarryIsRefused) {
    auto port = Open();
    Dcb state;
    ASSERT_EQ(port->GetCommState(state), error::success);
    const Dcb good = HubLine(state, 38400);
    ASSERT_EQ(port->SetCommState(good), error::success);
    Dcb sevenEven = good;
    sevenEven.BaudRate = 9600;
    sevenEven.ByteSize = 7;
    sevenEven.Parity = dcb::evenParity;
    // A pseudo-terminal always carries 8 bits without parity.
    EXPECT_EQ(port->SetCommState(sevenEven), error::invalidParameter);
    Dcb after;
    ASSERT_EQ(port->GetCommState(after), error::success);
    EXPECT_EQ(after.BaudRate, 38400u);
    EXPECT_EQ(after.ByteSize, 8);
    EXPECT_EQ(after.Parity, dcb::noParity);
}

TEST_F(PosixSerialPortTest, ChangesMadeByAnotherProgramShowInGetCommState) {
    auto port = Open();
    Dcb state;
    ASSERT_EQ(port->GetCommState(state), error::success);
    ASSERT_EQ(port->SetCommState(HubLine(state, 4800)), error::success);
    ASSERT_TRUE(posix::SetLineSpeed(pty_.Master(), 57600));
    ASSERT_EQ(port->GetCommState(state), error::success);
    EXPECT_EQ(state.BaudRate, 57600u);
}

TEST_F(PosixSerialPortTest, ImpossibleLineSettingsAreRefusedAndLeaveTheLineAlone) {
    auto port = Open();
    Dcb good;
    ASSERT_EQ(port->GetCommState(good), error::success);
    good = HubLine(good, 9600);
    ASSERT_EQ(port->SetCommState(good), error::success);

    Dcb bad = good;
    bad.BaudRate = 0;
    EXPECT_EQ(port->SetCommState(bad), error::invalidParameter);
    bad = good;
    bad.ByteSize = 9;
    EXPECT_EQ(port->SetCommState(bad), error::invalidParameter);
    bad = good;
    bad.ByteSize = 5;
    bad.StopBits = dcb::twoStopBits;
    EXPECT_EQ(port->SetCommState(bad), error::invalidParameter);
    bad = good;
    bad.StopBits = dcb::one5StopBits; // only with 5 data bits
    EXPECT_EQ(port->SetCommState(bad), error::invalidParameter);
    bad = good;
    bad.Parity = 5;
    EXPECT_EQ(port->SetCommState(bad), error::invalidParameter);
    bad = good;
    bad.fOutX = 1;
    bad.XonChar = bad.XoffChar;
    EXPECT_EQ(port->SetCommState(bad), error::invalidParameter);

    Dcb after;
    ASSERT_EQ(port->GetCommState(after), error::success);
    EXPECT_EQ(after.BaudRate, 9600u);
    EXPECT_EQ(DcbFlags(after), DcbFlags(good));

    CommTimeouts impossible;
    impossible.ReadIntervalTimeout = maxTimeout;
    impossible.ReadTotalTimeoutMultiplier = maxTimeout;
    impossible.ReadTotalTimeoutConstant = maxTimeout;
    EXPECT_EQ(port->SetCommTimeouts(impossible), error::invalidParameter);
}

TEST_F(PosixSerialPortTest, AWriteThatCannotFinishEndsAtItsTimeOut) {
    auto port = Open();
    CommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = maxTimeout;
    timeouts.WriteTotalTimeoutConstant = 200;
    ASSERT_EQ(port->SetCommTimeouts(timeouts), error::success);
    // Nobody reads the device side, so the line's buffers fill up.
    std::string block(256 * 1024, 'x');
    uint32_t written = 0;
    EXPECT_EQ(port->Write(block.data(), static_cast<uint32_t>(block.size()), written),
              error::success);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, block.size());
}

TEST_F(PosixSerialPortTest, ReadTimeOutsOfTheWin32Kind) {
    auto port = Open();
    CommTimeouts timeouts;
    timeouts.ReadTotalTimeoutConstant = 100; // wait at most 100 ms for the whole read
    ASSERT_EQ(port->SetCommTimeouts(timeouts), error::success);
    char buffer[16];
    uint32_t got = 99;
    EXPECT_EQ(port->Read(buffer, sizeof buffer, got), error::success);
    EXPECT_EQ(got, 0u);

    // Without time-outs a read waits for all it asked for, however it arrives.
    ASSERT_EQ(port->SetCommTimeouts(CommTimeouts{}), error::success);
    std::thread sender([&] {
        std::this_thread::sleep_for(50ms);
        pty_.Send("abc");
        std::this_thread::sleep_for(50ms);
        pty_.Send("defg");
    });
    EXPECT_EQ(port->Read(buffer, 7, got), error::success);
    sender.join();
    EXPECT_EQ(std::string(buffer, got), "abcdefg");
}

TEST_F(PosixSerialPortTest, CloseFromAnotherThreadEndsABlockedCallAndLaterCallsFail) {
    auto port = Open();
    ASSERT_EQ(port->SetCommTimeouts(CommTimeouts{}), error::success); // no time-outs at all
    std::atomic<uint32_t> result{12345};
    std::thread reader([&] {
        char buffer[16];
        uint32_t got = 0;
        result = port->Read(buffer, sizeof buffer, got);
    });
    std::this_thread::sleep_for(50ms);
    port->Close();
    reader.join();
    EXPECT_EQ(result.load(), error::invalidHandle);

    uint32_t errors = 0;
    ComStat status;
    Dcb state;
    uint32_t count = 0;
    EXPECT_EQ(port->ClearCommError(errors, status), error::invalidHandle);
    EXPECT_EQ(port->GetCommState(state), error::invalidHandle);
    EXPECT_EQ(port->Write("x", 1, count), error::invalidHandle);
    port->Close(); // a second close is harmless
    EXPECT_NE(Open(SerialSharing::None), nullptr) << "the port was released by Close";
}

} // namespace
} // namespace tavro::platform
