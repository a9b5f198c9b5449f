// The pseudo-terminal port set against real terminals and client processes: the exchange
// contract as the driver keeps it (who receives, open counts, collected client bytes, read-only)
// and what terminals add (echo, a client that stops reading, links left by a crashed hub).
#include "hub/posix/ports/PtyPortSet.h"

#include "common/DriverExchangeBlock.h"
#include "platform/ErrorCodes.h"
#include "tests/platform/TestPty.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace tavro::platform::posix {
namespace {

using namespace std::chrono_literals;
using tavro::testing::Eventually;
using tavro::testing::TestComDirectory;
using tavro::testing::TestPty;

// A client on a virtual port: opens COM<n> through the COM directory, raw and non-blocking,
// as a program would.
class Client {
public:
    explicit Client(const std::string& link) {
        fd_ = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~Client() { Close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    void Close() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }

    bool Write(const std::string& bytes) const {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Everything that arrives within `quiet` of the previous byte.
    std::string ReadAll(std::chrono::milliseconds quiet = 150ms) const {
        std::string received;
        char buffer[4096];
        auto last = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - last < quiet) {
            const ssize_t count = read(fd_, buffer, sizeof buffer);
            if (count > 0) {
                received.append(buffer, static_cast<size_t>(count));
                last = std::chrono::steady_clock::now();
            } else {
                std::this_thread::sleep_for(2ms);
            }
        }
        return received;
    }

private:
    int fd_ = -1;
};

// Another process holding a port open until it is told to go.
class ClientProcess {
public:
    explicit ClientProcess(const std::string& link) {
        int ready[2];
        int release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            // Keep only its own pipe ends: an inherited copy of another client's pipe would
            // keep that client from ever being told to go.
            for (int fd = 3; fd < 1024; ++fd) {
                if (fd != ready[1] && fd != release[0]) {
                    close(fd);
                }
            }
            const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const char status = fd >= 0 ? 'y' : 'n';
            if (write(ready[1], &status, 1) != 1) {
                _exit(2);
            }
            char ignored = 0;
            while (read(release[0], &ignored, 1) < 0 && errno == EINTR) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        char status = 0;
        opened_ = read(ready[0], &status, 1) == 1 && status == 'y';
        close(ready[0]);
    }
    ~ClientProcess() { Leave(); }
    ClientProcess(const ClientProcess&) = delete;
    ClientProcess& operator=(const ClientProcess&) = delete;

    bool Opened() const { return opened_; }

    void Leave() {
        if (release_ >= 0) {
            close(release_);
            release_ = -1;
        }
        if (pid_ > 0) {
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool opened_ = false;
};

class PosixPortSetTest : public ::testing::Test {
protected:
    PosixPortSetTest() : ports_(ComDirectory(directory_.Path().c_str())) {}

    void Configure(std::initializer_list<uint32_t> numbers) {
        uint32_t table[virtualPortCount] = {};
        size_t i = 0;
        for (const uint32_t number : numbers) {
            table[i++] = number;
        }
        ports_.Configure(table);
    }

    DriverExchangeBlock Exchange(bool readOnly = false) {
        DriverExchangeBlock block{};
        block.readOnly = readOnly ? 1 : 0;
        EXPECT_EQ(ports_.Exchange(block), error::success);
        return block;
    }

    // Exchanges until the collected bytes stop coming; returns them in order.
    std::string CollectClientBytes(bool readOnly = false) {
        std::string collected;
        for (int quiet = 0; quiet < 5;) {
            const DriverExchangeBlock block = Exchange(readOnly);
            if (block.clientDataLength == 0) {
                ++quiet;
                std::this_thread::sleep_for(10ms);
            } else {
                collected.append(reinterpret_cast<const char*>(block.clientData),
                                 block.clientDataLength);
            }
        }
        return collected;
    }

    void Broadcast(const std::string& bytes) {
        ASSERT_EQ(ports_.Broadcast(reinterpret_cast<const uint8_t*>(bytes.data()),
                                   static_cast<uint32_t>(bytes.size())),
                  error::success);
    }

    bool OpenCountBecomes(uint32_t index, uint32_t count) {
        return Eventually([&] { return Exchange().openCount[index] == count; }, 5000ms);
    }

    std::string Link(uint32_t number) const { return directory_.Link(number); }

    TestComDirectory directory_;
    PtyPortSet ports_;
};

TEST_F(PosixPortSetTest, RefusesWhatTheDriverWouldNotStartWith) {
    Configure({0, 7});
    EXPECT_EQ(ports_.Open(controlDeviceName), error::fileNotFound) << "virtual port 1 unset";
    Configure({5});
    EXPECT_EQ(ports_.Open("Other"), error::fileNotFound);
    EXPECT_EQ(ports_.Open(nullptr), error::fileNotFound);
    Configure({5, 256});
    EXPECT_EQ(ports_.Open(controlDeviceName), error::invalidParameter);
    EXPECT_EQ(ports_.ConflictingComNumber(), 256u);
    Configure({5, 6, 5});
    EXPECT_EQ(ports_.Open(controlDeviceName), error::alreadyExists);
    EXPECT_EQ(ports_.ConflictingComNumber(), 5u);

    // A number whose link names a device that exists belongs to somebody else.
    TestPty receiver;
    ASSERT_TRUE(receiver.Valid());
    ASSERT_TRUE(directory_.AddLink(6, receiver.SlavePath()));
    Configure({5, 6});
    EXPECT_EQ(ports_.Open(controlDeviceName), error::alreadyExists);
    EXPECT_EQ(ports_.ConflictingComNumber(), 6u);
    EXPECT_FALSE(ports_.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Link(5))))
        << "nothing is left behind";

    // A dangling link (a port that went away) is simply replaced.
    std::filesystem::remove(Link(6));
    ASSERT_TRUE(directory_.AddLink(6, "/dev/pts/does-not-exist"));
    EXPECT_EQ(ports_.Open(controlDeviceName), error::success);
    EXPECT_EQ(ports_.LastOpenResult(), error::success);
    EXPECT_EQ(std::filesystem::canonical(Link(6)).string(), ports_.DevicePath(1));
}

TEST_F(PosixPortSetTest, LinksThePortsWhileOpenAndOneHubAtATime) {
    Configure({5, 0, 0, 9});
    ASSERT_EQ(ports_.Open(controlDeviceName), error::success);
    EXPECT_EQ(ports_.Open(controlDeviceName), error::genFailure) << "one handle at a time";
    PtyPortSet other{ComDirectory(directory_.Path().c_str())};
    other.Configure({11});
    EXPECT_EQ(other.Open(controlDeviceName), error::genFailure) << "another hub, same directory";

    EXPECT_EQ(std::filesystem::canonical(Link(5)).string(), ports_.DevicePath(0));
    EXPECT_EQ(std::filesystem::canonical(Link(9)).string(), ports_.DevicePath(3));
    EXPECT_STREQ(ports_.DevicePath(1), "");
    const DriverExchangeBlock block = Exchange();
    const uint32_t numbers[virtualPortCount] = {5, 0, 0, 9, 0, 0, 0, 0};
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        EXPECT_EQ(block.comNumber[i], numbers[i]) << i;
        EXPECT_EQ(block.openCount[i], 0u) << "nobody has port " << i << " open";
        EXPECT_EQ(block.activity[i], 0u);
    }
    EXPECT_EQ(block.version, driverInterfaceVersion);
    EXPECT_EQ(block.readOnly, 0u);

    ports_.Close();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Link(5))));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Link(9))));
    DriverExchangeBlock closed{};
    EXPECT_EQ(ports_.Exchange(closed), error::invalidHandle);
    EXPECT_EQ(other.Open(controlDeviceName), error::success) << "free again";
}

TEST_F(PosixPortSetTest, LinksLeftByACrashedHubAreRemoved) {
    // What a killed hub leaves: its record and its links, one of them to a number this hub
    // does not use. A link somebody replaced since is not touched.
    TestPty foreign;
    ASSERT_TRUE(foreign.Valid());
    ASSERT_TRUE(directory_.AddLink(5, "/dev/pts/gone-5"));
    ASSERT_TRUE(directory_.AddLink(7, "/dev/pts/gone-7"));
    ASSERT_TRUE(directory_.AddLink(8, foreign.SlavePath()));
    std::ofstream(directory_.Path() + "/" + portRecordName)
        << "COM5 /dev/pts/gone-5\nCOM7 /dev/pts/gone-7\nCOM8 /dev/pts/gone-8\ngarbage\n";
    Configure({5});
    ASSERT_EQ(ports_.Open(controlDeviceName), error::success);
    EXPECT_EQ(std::filesystem::canonical(Link(5)).string(), ports_.DevicePath(0));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Link(7))));
    EXPECT_EQ(std::filesystem::read_symlink(Link(8)).string(), foreign.SlavePath());
}

TEST_F(PosixPortSetTest, OnlyClientsReceiveAndALateOpenerSeesOnlyNewerBytes) {
    Configure({5, 6});
    ASSERT_EQ(ports_.Open(controlDeviceName), error::success);
    Broadcast("before anybody$");
    Client first(Link(5));
    ASSERT_TRUE(first.IsOpen());
    Broadcast("one$");
    EXPECT_EQ(first.ReadAll(), "one$");

    // Bytes nobody read when the last client left are not handed to the next one.
    Broadcast("unread$");
    std::this_thread::sleep_for(20ms);
    first.Close();
    Exchange(); // the hub notices at its next exchange
    Client second(Link(5));
    Client other(Link(6));
    Broadcast("two$");
    EXPECT_EQ(second.ReadAll(), "two$");
    EXPECT_EQ(other.ReadAll(), "two$");
}

TEST_F(PosixPortSetTest, OpenCountsTellWhichPortsAreInUse) {
    Configure({5, 6});
    ASSERT_EQ(ports_.Open(controlDeviceName), error::success);
    {
        ClientProcess a(Link(5));
        ClientProcess b(Link(5));
        ClientProcess c(Link(6));
        ASSERT_TRUE(a.Opened() && b.Opened() && c.Opened());
        EXPECT_TRUE(OpenCountBecomes(0, 1));
        EXPECT_TRUE(OpenCountBecomes(1, 1));
        const DriverExchangeBlock block = Exchange();
        EXPECT_EQ(block.openCount[2], 0u);
        a.Leave();
        EXPECT_EQ(Exchange().openCount[0], 1u) << "still in use by the other";
        b.Leave();
        EXPECT_TRUE(OpenCountBecomes(0, 0));
        EXPECT_EQ(Exchange().openCount[1], 1u);
    }
    EXPECT_TRUE(OpenCountBecomes(1, 0));
    // The hub's own process counts too.
    Client own(Link(5));
    EXPECT_TRUE(OpenCountBecomes(0, 1));
}

TEST_F(PosixPortSetTest, ClientBytesComeInPortOrderAtMost1024PerExchange) {
    Configure({5, 6, 7});
    ASSERT_EQ(ports_.Open(controlDeviceName), error::success);
    Client first(Link(5));
    Client second(Link(6));
    Client third(Link(7));
    ASSERT_TRUE(third.Write("third"));
    ASSERT_TRUE(first.Write("first"));
    ASSERT_TRUE(second.Write("second"));
    std::this_thread::sleep_for(30ms);
    DriverExchangeBlock block = Exchange();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.clientData), block.clientDataLength),
              "firstsecondthird");
    EXPECT_EQ(block.openCount[0], 1u);

    const std::string eight(800, 'a');
    const std::string other(800, 'b');
    ASSERT_TRUE(first.Write(eight));
    ASSERT_TRUE(second.Write(other));
    std::this_thread::sleep_for(30ms);
    block = Exchange();
    ASSERT_EQ(block.clientDataLength, exchangeDataCapacity);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.clientData), 1024),
              eight + other.substr(0, 224));
    block = Exchange();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.clientData), block.clientDataLength),
              other.substr(224));
}

TEST_F(PosixPortSetTest, ReadOnlyDropsPortsTwoToEightAndKeepsPortOne) {
    Configure({5, 6});
    ASSERT_EQ(ports_.Open(controlDeviceName), error::success);
    Client first(Link(5));
    Client second(Link(6));
    ASSERT_TRUE(second.Write("dropped"));
    ASSERT_TRUE(first.Write("kept"));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(CollectClientBytes(true), "kept");
    // Dropped, not held back for later.
    EXPECT_EQ(CollectClientBytes(false), "");
    EXPECT_EQ(Exchange(true).readOnly, 0u) << "returned as 0";
    // Counted as the driver counts them: what went to the receiver, what was refused.
    EXPECT_EQ(ports_.Counters(0).bytesWritten, 4u);
    EXPECT_EQ(ports_.Counters(0).bytesRefused, 0u);
    EXPECT_EQ(ports_.Counters(1).bytesWritten, 0u);
    EXPECT_EQ(ports_.Counters(1).bytesRefused, 7u);
}

TEST_F(PosixPortSetTest, BytesWrittenJustBeforeTheClientLeftStillReachTheReceiver) {
    Configure({5});
    ASSERT_EQ(ports_.Open(controlDeviceName), error::success);
    {
        Client once(Link(5));
        ASSERT_TRUE(once.Write("$PMTK000*32\r\n"));
    }
    EXPECT_EQ(CollectClientBytes(), "$PMTK000*32\r\n");
}

TEST_F(PosixPortSetTest, TheHubsBroadcastNeverComesBackAsClientBytes) {
    Configure({5});
    ASSERT_EQ(ports_.Open(controlDeviceName), error::success);
    {
        // A client that turns echo and line editing on, then leaves.
        Client careless(Link(5));
        termios settings{};
        ASSERT_EQ(tcgetattr(careless.Fd(), &settings), 0);
        settings.c_lflag |= ECHO | ICANON;
        ASSERT_EQ(tcsetattr(careless.Fd(), TCSANOW, &settings), 0);
    }
    Exchange();
    Client next(Link(5));
    Broadcast("$GPGGA,1*00\r\n");
    EXPECT_EQ(next.ReadAll(), "$GPGGA,1*00\r\n") << "raw again for the next client";
    EXPECT_EQ(CollectClientBytes(), "");
}

TEST_F(PosixPortSetTest, WhileAClientEchoesItsBytesNeverReachTheReceiver) {
    Configure({5, 6});
    ASSERT_EQ(ports_.Open(controlDeviceName), error::success);
    Client echoing(Link(5));
    Client raw(Link(6));
    termios settings{};
    ASSERT_EQ(tcgetattr(echoing.Fd(), &settings), 0);
    settings.c_lflag |= ECHO;
    ASSERT_EQ(tcsetattr(echoing.Fd(), TCSANOW, &settings), 0);
    Exchange();
    Broadcast("$GPGGA,1*00\r\n");
    ASSERT_TRUE(echoing.Write("$PMTK000*32\r\n"));
    ASSERT_TRUE(raw.Write("$PMTK414*33\r\n"));
    EXPECT_EQ(CollectClientBytes(), "$PMTK414*33\r\n") << "only the raw port's own bytes";
    EXPECT_TRUE(ports_.Echoing(0));
    EXPECT_FALSE(ports_.Echoing(1));

    // Echo off again: its bytes go through.
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ASSERT_EQ(tcsetattr(echoing.Fd(), TCSANOW, &settings), 0);
    ASSERT_TRUE(echoing.Write("$PMTK000*32\r\n"));
    EXPECT_EQ(CollectClientBytes(), "$PMTK000*32\r\n");
    EXPECT_FALSE(ports_.Echoing(0));
}

TEST_F(PosixPortSetTest, NewNumbersWhileOpenLeaveOtherPortsTerminalsAlone) {
    Configure({5, 6});
    ASSERT_EQ(ports_.Open(controlDeviceName), error::success);
    const std::string first = ports_.DevicePath(0);
    const std::string second = ports_.DevicePath(1);
    Client client(Link(5));
    Client moving(Link(6));

    // Port 2 moves to COM7 with its terminal and client, port 3 appears.
    uint32_t numbers[virtualPortCount] = {5, 7, 8};
    ASSERT_EQ(ports_.Reconfigure(numbers), error::success);
    EXPECT_EQ(ports_.DevicePath(0), first);
    EXPECT_EQ(ports_.DevicePath(1), second);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Link(6))));
    EXPECT_EQ(std::filesystem::canonical(Link(7)).string(), second);
    EXPECT_EQ(std::filesystem::canonical(Link(8)).string(), ports_.DevicePath(2));
    Broadcast("$GPGGA,2*00\r\n");
    EXPECT_EQ(client.ReadAll(), "$GPGGA,2*00\r\n");
    EXPECT_EQ(moving.ReadAll(), "$GPGGA,2*00\r\n");

    // A number another device holds is refused before anything changes.
    TestPty device;
    ASSERT_TRUE(directory_.AddLink(9, device.SlavePath()));
    const uint32_t taken[virtualPortCount] = {5, 0, 9};
    EXPECT_EQ(ports_.Reconfigure(taken), error::alreadyExists);
    EXPECT_EQ(ports_.ConflictingComNumber(), 9u);
    EXPECT_TRUE(std::filesystem::exists(Link(7)));

    const uint32_t fewer[virtualPortCount] = {5};
    ASSERT_EQ(ports_.Reconfigure(fewer), error::success);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Link(7))));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Link(8))));
    EXPECT_EQ(ports_.DevicePath(0), first);
}

TEST_F(PosixPortSetTest, AnOfferedTerminalIsTakenWithItsClient) {
    // What the service manager keeps across a restart: the master of the old set's COM5.
    Configure({5});
    ASSERT_EQ(ports_.Open(controlDeviceName), error::success);
    const std::string terminal = ports_.DevicePath(0);
    Client client(Link(5));
    const int kept = dup(ports_.MasterFd(0));
    ASSERT_GE(kept, 0);
    ports_.Close();
    ASSERT_TRUE(client.Write("$PMTK000*32\r\n")) << "written while no hub runs";

    PtyPortSet next{ComDirectory(directory_.Path().c_str())};
    const uint32_t numbers[virtualPortCount] = {5, 6};
    next.Configure(numbers);
    const OfferedTerminal offered{kept, 5};
    next.OfferTerminals(&offered, 1);
    ASSERT_EQ(next.Open(controlDeviceName), error::success);
    EXPECT_EQ(next.DevicePath(0), terminal);
    EXPECT_NE(next.DevicePath(1), terminal);
    DriverExchangeBlock block{};
    ASSERT_EQ(next.Exchange(block), error::success);
    EXPECT_EQ(block.openCount[0], 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.clientData), block.clientDataLength),
              "$PMTK000*32\r\n");
    const std::string sentence = "$GPGGA,3*00\r\n";
    ASSERT_EQ(next.Broadcast(reinterpret_cast<const uint8_t*>(sentence.data()),
                             static_cast<uint32_t>(sentence.size())),
              error::success);
    EXPECT_EQ(client.ReadAll(), sentence);
}

TEST_F(PosixPortSetTest, AClientThatStopsReadingLosesItsBacklogNotTheNewestBytes) {
    Configure({5, 6});
    ASSERT_EQ(ports_.Open(controlDeviceName), error::success);
    Client sleeper(Link(5));
    Client reader(Link(6));
    std::string read;
    std::atomic<size_t> readSize{0};
    std::atomic<bool> done{false};
    std::thread readerThread([&] {
        char buffer[4096];
        while (!done.load()) {
            const ssize_t count = ::read(reader.Fd(), buffer, sizeof buffer);
            if (count > 0) {
                read.append(buffer, static_cast<size_t>(count));
                readSize.store(read.size());
            } else {
                std::this_thread::sleep_for(1ms);
            }
        }
    });
    std::string sent;
    std::string last;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 400; ++i) {
        char chunk[128];
        std::snprintf(chunk, sizeof chunk, "%0120d\r\n", i);
        last = chunk;
        sent += last;
        Broadcast(last);
        std::this_thread::sleep_for(100us); // a reader keeps up with a receiver's pace
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "the hub never waits";
    const std::string received = sleeper.ReadAll();
    EXPECT_TRUE(Eventually([&] { return readSize.load() >= sent.size(); }, 2s));
    done.store(true);
    readerThread.join();
    EXPECT_TRUE(read == sent) << "the other port got every byte, in order";
    ASSERT_GE(received.size(), last.size());
    EXPECT_LT(received.size(), sent.size()) << "some of the backlog was dropped";
    EXPECT_EQ(received.substr(received.size() - last.size()), last) << "the newest bytes arrive";
    // Counted on the sleeper's port only, exactly what it did not get.
    EXPECT_EQ(ports_.Counters(0).bytesDropped, sent.size() - received.size());
    EXPECT_EQ(ports_.Counters(1).bytesDropped, 0u);
    EXPECT_EQ(ports_.Counters(1).bytesRelayed, sent.size());
    const DriverExchangeBlock block = Exchange();
    EXPECT_EQ(block.activity[0] >> 16, 400u) << "one count per delivery";
}

TEST_F(PosixPortSetTest, PortByPortTheHubTakesWhatItHasRoomForAndTheRestWaits) {
    Configure({5, 6});
    ASSERT_EQ(ports_.Open(controlDeviceName), error::success);
    ASSERT_TRUE(ports_.CollectPerPort(true));
    Client first(Link(5));
    Client second(Link(6));
    ASSERT_TRUE(first.Write("$PMTK000*32\r\n"));
    ASSERT_TRUE(second.Write("second"));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(Exchange().clientDataLength, 0u) << "the exchange leaves them where they are";
    uint8_t bytes[64];
    ASSERT_EQ(ports_.TakeClientBytes(0, bytes, 5), 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 5), "$PMTK");
    ASSERT_EQ(ports_.TakeClientBytes(0, bytes, sizeof bytes), 8u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 8), "000*32\r\n");
    // Read-only: ports 2-8 are dropped, as by the exchange.
    Exchange(true);
    EXPECT_EQ(ports_.TakeClientBytes(1, bytes, sizeof bytes), 0u);
    Exchange(false);
    EXPECT_EQ(ports_.TakeClientBytes(1, bytes, sizeof bytes), 0u) << "dropped, not kept";
    EXPECT_EQ(ports_.TakeClientBytes(8, bytes, sizeof bytes), 0u);
}

} // namespace
} // namespace tavro::platform::posix
