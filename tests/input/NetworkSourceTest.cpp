// The network source with the system's sockets on the loopback interface and a clock the test
// moves: the back-off, silence, drops that leave nothing behind, gpsd's WATCH and its JSON
// left out, datagrams whole, and writes refused where the source takes none.
#include "hub/input/NetworkSource.h"

#include "platform/ErrorCodes.h"
#include "platform/testing/FakeThreads.h"
#include "platform/testing/FakeTiming.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace tavro::testing {
namespace {

size_t OpenDescriptors() {
    size_t count = 0;
    if (DIR* directory = opendir("/proc/self/fd")) {
        while (readdir(directory) != nullptr) {
            ++count;
        }
        closedir(directory);
    }
    return count;
}

// Polls `condition` every millisecond for at most `milliseconds`.
template <typename Condition>
bool Within(int milliseconds, Condition condition) {
    for (int i = 0; i < milliseconds && !condition(); ++i) {
        usleep(1000);
    }
    return condition();
}

bool Readable(int fd, int timeoutMs = 2000) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) == 1;
}

// A loopback server on an ephemeral port (TCP or UDP).
class Peer {
public:
    explicit Peer(int type) : fd_(socket(AF_INET, type, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        if (type == SOCK_STREAM) {
            listen(fd_, 8);
        }
    }
    ~Peer() {
        DropClient();
        close(fd_);
    }
    uint16_t Port() const { return port_; }
    int Fd() const { return fd_; }
    bool Accept() {
        DropClient();
        client_ = Readable(fd_) ? accept(fd_, nullptr, nullptr) : -1;
        return client_ >= 0;
    }
    void Send(const std::string& bytes) { send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    std::string Take() {
        char buffer[512];
        const ssize_t got = Readable(client_) ? recv(client_, buffer, sizeof buffer, 0) : 0;
        return std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0);
    }
    void DropClient() {
        if (client_ >= 0) {
            close(client_);
            client_ = -1;
        }
    }

private:
    int fd_;
    int client_ = -1;
    uint16_t port_ = 0;
};

class NetworkSourceTest : public ::testing::Test {
protected:
    void Make(const std::string& text) {
        const char* reason = nullptr;
        ASSERT_TRUE(ParseSource(text.c_str(), address_, reason)) << reason;
        source_ = std::make_unique<NetworkSource>(*platform::SystemNetwork(), threads_, timing_,
                                                  address_, record_);
        EXPECT_TRUE(source_->Open());
        EXPECT_EQ(source_->Line(), nullptr) << "no line control on a network source";
    }
    // Ticks until the source is connected (loopback connects at once, or nearly).
    bool ConnectedSoon() {
        for (int i = 0; i < 200 && record_.state != SourceState::Connected; ++i) {
            usleep(1000);
            source_->Tick();
        }
        return record_.state == SourceState::Connected;
    }
    std::string ReadAll() {
        std::string bytes;
        uint8_t buffer[4096];
        for (int i = 0; i < 50; ++i) {
            uint32_t got = 0;
            EXPECT_EQ(source_->Read(buffer, sizeof buffer, got), error::success);
            bytes.append(reinterpret_cast<char*>(buffer), got);
            if (got == 0) {
                const platform::WaitObject wait = source_->ArmArrival();
                // Patience for the first bytes; after them a pause is the end.
                if (wait == platform::noWaitObject ||
                    !Readable(static_cast<int>(wait), bytes.empty() ? 2000 : 50)) {
                    break;
                }
            }
        }
        return bytes;
    }
    uint32_t WaitLeft() { return record_.nextTryTick - timing_.GetTickCount(); }

    platform::testing::FakeThreads threads_;
    platform::testing::FakeTiming timing_{1000};
    SourceAddress address_;
    SourceRecord record_;
    std::unique_ptr<NetworkSource> source_;
};

TEST_F(NetworkSourceTest, RefusedConnectionsBackOffDoublingToThirtySeconds) {
    uint16_t closedPort = 0;
    {
        Peer gone(SOCK_STREAM);
        closedPort = gone.Port();
    }
    Make("tcp://127.0.0.1:" + std::to_string(closedPort));
    const uint32_t expected[] = {500, 1000, 2000, 4000, 8000, 16000, 30000, 30000};
    for (const uint32_t delay : expected) {
        for (int i = 0; i < 200 && record_.state != SourceState::Waiting; ++i) {
            usleep(1000);
            source_->Tick();
        }
        ASSERT_EQ(record_.state, SourceState::Waiting);
        EXPECT_EQ(record_.lastError, error::connectionRefused);
        EXPECT_EQ(source_->LastError().osCode, ECONNREFUSED) << "the errno kept beside it";
        EXPECT_EQ(WaitLeft(), delay);
        EXPECT_EQ(source_->ArmArrival(), platform::noWaitObject) << "nothing to wait for";
        timing_.Sleep(delay - 1);
        source_->Tick();
        EXPECT_EQ(record_.state, SourceState::Waiting) << "not before its time";
        timing_.Sleep(1);
        source_->Tick();
    }
    EXPECT_EQ(record_.connections, 0u);
}

TEST_F(NetworkSourceTest, AStableMinuteResetsTheBackOffAndSilenceEndsAConnection) {
    Peer peer(SOCK_STREAM);
    Make("tcp://127.0.0.1:" + std::to_string(peer.Port()));
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(ConnectedSoon());
    record_.delayMs = 8000; // as after a few failures
    for (int second = 0; second < 61; second += 5) {
        peer.Send("$GPTXT,01*00\r\n");
        EXPECT_EQ(ReadAll(), "$GPTXT,01*00\r\n");
        timing_.Sleep(5000);
        source_->Tick();
    }
    ASSERT_EQ(record_.state, SourceState::Connected);
    timing_.Sleep(NetworkSource::silenceLimitMs);
    source_->Tick();
    EXPECT_EQ(record_.state, SourceState::Waiting) << "a silent peer is connected again";
    EXPECT_EQ(record_.lastError, error::timedOut);
    EXPECT_EQ(WaitLeft(), NetworkSource::firstDelayMs);
    // Back, after the wait: a reconnect.
    timing_.Sleep(NetworkSource::firstDelayMs);
    source_->Tick();
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(ConnectedSoon());
    EXPECT_EQ(record_.reconnects, 1u);
    EXPECT_EQ(record_.bytes, 13u * 14u);
}

// (Memory: the sanitizer builds' leak checks; the resident set is no measure in a process
// whose allocator and sanitizer books grow on their own.)
TEST_F(NetworkSourceTest, AHundredDropsLeaveNoDescriptorBehind) {
    Peer peer(SOCK_STREAM);
    Make("tcp://127.0.0.1:" + std::to_string(peer.Port()));
    // Counted after ten drops, when what the first connections set up once is there.
    constexpr int warmUp = 10;
    size_t before = 0;
    for (int drop = 0; drop < warmUp + 100; ++drop) {
        if (drop == warmUp) {
            before = OpenDescriptors();
        }
        ASSERT_TRUE(peer.Accept()) << drop;
        ASSERT_TRUE(ConnectedSoon()) << drop;
        peer.Send("$GPGGA\r\n");
        peer.DropClient();
        EXPECT_EQ(ReadAll(), "$GPGGA\r\n");
        ASSERT_EQ(record_.state, SourceState::Waiting) << "the end of the stream is a drop";
        EXPECT_EQ(record_.lastError, error::handleEof);
        timing_.Sleep(NetworkSource::maxDelayMs);
        source_->Tick();
    }
    EXPECT_EQ(record_.reconnects, warmUp + 100u);
    EXPECT_LE(OpenDescriptors(), before) << "the next connection is being made, as then";
    peer.Accept();
    peer.DropClient();
}

TEST_F(NetworkSourceTest, GpsdIsAskedForTheRawStreamAndItsJsonIsLeftOut) {
    Peer peer(SOCK_STREAM);
    Make("gpsd://127.0.0.1:" + std::to_string(peer.Port()) + "/dev/ttyUSB0");
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(ConnectedSoon());
    EXPECT_EQ(peer.Take(), "?WATCH={\"enable\":true,\"raw\":1,\"device\":\"/dev/ttyUSB0\"}\n");
    peer.Send("{\"class\":\"VERSION\",\"release\":\"3.25\"}\r\n$GPRMC,1*00\r\n{\"class\":");
    EXPECT_EQ(ReadAll(), "$GPRMC,1*00\r\n");
    peer.Send("\"WATCH\"}\r\n$GPGGA,2*00\r\n");
    EXPECT_EQ(ReadAll(), "$GPGGA,2*00\r\n") << "a JSON line cut by the reads";
    uint32_t written = 0;
    EXPECT_EQ(source_->Write("$PMTK000*32\r\n", 13, written), error::accessDenied);
}

TEST_F(NetworkSourceTest, DatagramsArriveWholeAndTheSourceTakesNoWrites) {
    Peer probe(SOCK_DGRAM);
    const uint16_t port = probe.Port();
    close(probe.Fd()); // its port, free now
    Make("udp://127.0.0.1:" + std::to_string(port));
    ASSERT_EQ(record_.state, SourceState::Listening);
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string big(5000, 'x');
    for (const std::string& datagram : {std::string("$GPRMC,a*00\r\n"), big}) {
        sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
    }
    close(sender);
    // Handed out in reads smaller than a datagram, nothing is lost or merged.
    std::string bytes;
    uint8_t buffer[1000];
    ASSERT_TRUE(Readable(static_cast<int>(source_->ArmArrival())));
    for (int i = 0; i < 20; ++i) {
        uint32_t got = 0;
        source_->Read(buffer, sizeof buffer, got);
        bytes.append(reinterpret_cast<char*>(buffer), got);
    }
    EXPECT_EQ(bytes, "$GPRMC,a*00\r\n" + big);
    uint32_t written = 0;
    EXPECT_EQ(source_->Write("x", 1, written), error::accessDenied);
    EXPECT_EQ(written, 0u);
}

TEST_F(NetworkSourceTest, AMulticastGroupIsJoined) {
    Peer probe(SOCK_DGRAM);
    const uint16_t port = probe.Port();
    close(probe.Fd());
    Make("udp://239.255.42.99:" + std::to_string(port));
    ASSERT_EQ(record_.state, SourceState::Listening) << record_.lastError;
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, "239.255.42.99", &to.sin_addr);
    const std::string datagram = "$GPRMC,group*00\r\n";
    const bool sent = sendto(sender, datagram.data(), datagram.size(), 0,
                             reinterpret_cast<sockaddr*>(&to), sizeof to) > 0;
    close(sender);
    if (!sent) {
        GTEST_SKIP() << "no route for multicast on this machine";
    }
    EXPECT_EQ(ReadAll(), datagram);
}

TEST_F(NetworkSourceTest, AHostThatIsNotFoundIsTriedAgainLater) {
    Make("tcp://no-such-host.invalid:10110");
    source_->Tick();
    EXPECT_EQ(record_.state, SourceState::Waiting);
    EXPECT_EQ(record_.lastError, error::hostNotFound);
    EXPECT_STREQ(SourceStateName(record_.state), "reconnecting");
}

// On the system's threads: lookups that are waited for and lookups dropped while they run
// both end without touching what their owner let go of (run under the sanitizers).
TEST(NameLookup, LookupsOnRealThreadsAreTakenOrDroppedSafely) {
    platform::Threads& threads = platform::SystemThreads();
    for (int i = 0; i < 20; ++i) {
        LookupHolder dropped;
        dropped.Start(*platform::SystemNetwork(), threads, "localhost", 10110, i % 2 == 0);
    }
    LookupHolder waited;
    waited.Start(*platform::SystemNetwork(), threads, "127.0.0.1", 2947, false);
    uint32_t result = error::ioPending;
    platform::SocketAddress address;
    bool taken = false;
    ASSERT_TRUE(Within(5000, [&] { return taken = taken || waited.Take(result, address); }));
    EXPECT_EQ(result, error::success);
    EXPECT_EQ(address.length, sizeof(sockaddr_in));
}

} // namespace
} // namespace tavro::testing
