// The network output with the system's sockets on the loopback interface: who is served, what
// a slow, stalled or talkative client gets, the write rules, datagrams, and settings that move
// the server. Ports are ephemeral: each test asks the system for a free one.
#include "hub/engine/NetworkOutput.h"

#include "platform/ErrorCodes.h"
#include "platform/testing/FakeThreads.h"
#include "tests/support/DescriptorsTaken.h"
#include "tests/support/Nmea.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tavro::testing {
namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

class RecordingSink final : public NetworkSink {
public:
    void WriteFromNetwork(const uint8_t* sentence, uint32_t length) override {
        written.append(reinterpret_cast<const char*>(sentence), length);
    }
    std::string written;
};

// A TCP client of the server: connects, reads what has come, sends.
class Client {
public:
    // `receiveBuffer` not 0: the socket's receive buffer, set before connecting. `from`: the
    // IPv4 loopback address it connects from (another host, as the server sees it).
    Client(uint16_t port, int family = AF_INET, int receiveBuffer = 0, const char* from = nullptr) {
        fd_ = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer != 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        if (from != nullptr) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            inet_pton(AF_INET, from, &source.sin_addr);
            bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source);
        }
        sockaddr_storage address{};
        const socklen_t length = LoopbackAddress(family, port, address);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0;
        fcntl(fd_, F_SETFL, O_NONBLOCK);
    }
    ~Client() { close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Connected() const { return connected_; }
    int Fd() const { return fd_; }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // What has arrived; `closed` when the server ended the connection.
    std::string Read(bool* closed = nullptr) const {
        std::string got;
        char buffer[65536];
        for (;;) {
            const ssize_t count = recv(fd_, buffer, sizeof buffer, 0);
            if (count > 0) {
                got.append(buffer, static_cast<size_t>(count));
                continue;
            }
            if (closed != nullptr) {
                *closed = count == 0 || (count < 0 && errno != EAGAIN);
            }
            return got;
        }
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

class NetworkOutputTest : public ::testing::Test {
protected:
    NetworkOutputTest() : output_(platform::SystemNetwork(), sink_) {}

    void Serve(const char* address = "127.0.0.1") {
        settings_.tcpPort = FreePort(SOCK_STREAM, address[0] == ':' ? AF_INET6 : AF_INET);
        std::snprintf(settings_.tcpAddress, sizeof settings_.tcpAddress, "%s", address);
        output_.Configure(settings_, now_);
        ASSERT_TRUE(output_.Listening()) << output_.ListenError();
    }

    // What the loop does while entries are ready: up to `rounds` polls of `waitMs` at most.
    void Loop(int rounds = 20, int waitMs = 20) {
        for (int round = 0; round < rounds; ++round) {
            platform::WaitEntry entries[NetworkOutput::waitCapacity];
            const uint32_t count = output_.CollectWaits(entries, NetworkOutput::waitCapacity, 0);
            std::vector<pollfd> fds;
            for (uint32_t i = 0; i < count; ++i) {
                fds.push_back(
                    {static_cast<int>(entries[i].object),
                     static_cast<short>(((entries[i].events & platform::waitInput) ? POLLIN : 0) |
                                        ((entries[i].events & platform::waitOutput) ? POLLOUT : 0)),
                     0});
            }
            if (poll(fds.data(), fds.size(), waitMs) <= 0) {
                continue;
            }
            for (uint32_t i = 0; i < count; ++i) {
                if (fds[i].revents != 0) {
                    output_.Ready(entries[i].token, entries[i].events, now_);
                }
            }
        }
    }

    void Relay(const std::string& bytes) {
        output_.Relay(reinterpret_cast<const uint8_t*>(bytes.data()),
                      static_cast<uint32_t>(bytes.size()));
    }

    Settings settings_;
    RecordingSink sink_;
    NetworkOutput output_;
    uint32_t now_ = 1000;
};

TEST_F(NetworkOutputTest, NothingIsOpenUntilAPortIsSet) {
    output_.Configure(settings_, now_);
    EXPECT_FALSE(output_.Listening());
    EXPECT_FALSE(output_.SendsDatagrams());
    EXPECT_STREQ(settings_.tcpAddress, "127.0.0.1") << "this machine only, by default";
    EXPECT_EQ(settings_.tcpWrite, 0u);
}

TEST_F(NetworkOutputTest, ClientsGetTheStreamFromTheirConnectionAndOneTooManyIsClosed) {
    // 32 unless "TCP Clients" says otherwise; more than the slots are not served.
    for (const auto& [setting, limit] : {std::pair{0u, 1u},
                                         {1000u, NetworkOutput::clientSlots},
                                         {tcpClientsDefault, 32u},
                                         {100u, 100u}}) {
        settings_.tcpClients = setting;
        Serve();
        ASSERT_EQ(output_.ClientLimit(), limit);
        const uint64_t refused = output_.Refused();
        std::vector<std::unique_ptr<Client>> clients;
        for (uint32_t i = 0; i <= limit && limit <= 100; ++i) {
            clients.push_back(std::make_unique<Client>(settings_.tcpPort));
            ASSERT_TRUE(clients.back()->Connected());
            Loop(2);
        }
        if (clients.empty()) {
            output_.Close();
            continue;
        }
        EXPECT_EQ(output_.ClientCount(), limit);
        EXPECT_EQ(output_.Refused(), refused + 1);
        const std::string rmc = Sentence("GPRMC,120000,A,4807.038,N,01131.000,E,0.0,0.0,230313,,");
        Relay(rmc);
        for (uint32_t i = 0; i < limit; ++i) {
            EXPECT_EQ(clients[i]->Read(), rmc) << i;
        }
        bool closed = false;
        EXPECT_EQ(clients.back()->Read(&closed), "") << "nothing sent to the one too many";
        EXPECT_TRUE(closed);
        NetworkClientInfo info;
        ASSERT_TRUE(output_.Client(0, info));
        EXPECT_EQ(info.bytesSent, rmc.size());
        EXPECT_EQ(std::string(info.peer).rfind("127.0.0.1:", 0), 0u) << info.peer;
        output_.Close();
    }
}

TEST(SystemNetwork, AcceptedClientsSendEachRelayWithoutWaitingForAcks) {
    platform::Network& network = *platform::SystemNetwork();
    platform::SocketHandle listener = platform::noSocket;
    ASSERT_EQ(network.Listen("127.0.0.1", 0, listener), error::success);
    Client client(network.LocalPort(listener));
    ASSERT_TRUE(client.Connected());
    platform::SocketHandle accepted = platform::noSocket;
    char peer[platform::peerTextSize];
    for (int i = 0; i < 100 && accepted == platform::noSocket; ++i) {
        if (network.Accept(listener, accepted, peer) != error::success) {
            usleep(1000);
        }
    }
    ASSERT_NE(accepted, platform::noSocket);
    int noDelay = 0;
    socklen_t length = sizeof noDelay;
    ASSERT_EQ(getsockopt(static_cast<int>(accepted), IPPROTO_TCP, TCP_NODELAY, &noDelay, &length),
              0);
    EXPECT_NE(noDelay, 0) << "a sentence must not wait for the peer's delayed ACK";
    network.Close(accepted);
    network.Close(listener);
}

TEST_F(NetworkOutputTest, AClientThatDoesNotReadLosesOldLinesAloneAndGoesWhenStalled) {
    Serve();
    Client sleeper(settings_.tcpPort, AF_INET, 4096);
    Client reader(settings_.tcpPort);
    Loop(3);
    ASSERT_EQ(output_.ClientCount(), 2u);
    std::string sent;
    std::string received;
    for (int i = 0; i < 40000; ++i) {
        const std::string line = Sentence("GPTXT,01,01,02," + std::to_string(i));
        sent += line;
        Relay(line);
        if (i % 50 == 0) {
            Loop(1, 0);
            received += reader.Read();
        }
    }
    for (int i = 0; i < 50 && received.size() < sent.size(); ++i) {
        Loop(1);
        received += reader.Read();
    }
    EXPECT_TRUE(received == sent) << "the reader got every byte in order";
    NetworkClientInfo slow;
    ASSERT_TRUE(output_.Client(0, slow));
    EXPECT_GT(slow.bytesDropped, 0u);
    EXPECT_LE(slow.bytesSent + slow.bytesDropped, sent.size());
    // It took nothing for stallMs while bytes waited: it goes, the reader stays.
    now_ += NetworkOutput::stallMs;
    output_.Tick(now_);
    EXPECT_EQ(output_.ClientCount(), 1u);
    EXPECT_EQ(output_.StallDisconnects(), 1u);
    // What it was sent is still there for it, its oldest bytes first.
    std::string late;
    bool closed = false;
    for (int i = 0; i < 200 && !closed; ++i) {
        late += sleeper.Read(&closed);
    }
    EXPECT_EQ(late.size(), slow.bytesSent);
    EXPECT_EQ(late.substr(0, 1000), sent.substr(0, 1000));
}

TEST_F(NetworkOutputTest, WhatClientsMaySend) {
    const std::string good = Sentence("PMTK000");
    const std::string longest = Sentence("PMTK" + std::string(72, '0')); // 82 with CR LF
    const std::string probes = "$PGRMCE*0E\r\n" +
                               std::string("\x10\x02\x12\x8e\x7f\x01\x00\x13\x10\x03", 10) +
                               std::string("\xa0\xa2\x00\x02\x84\x00\x00\x84\xb0\xb3", 10) + good;
    struct Case {
        bool write;
        std::string sent;
        bool stays;
        std::string toReceiver;
    };
    for (const Case& c : {
             Case{false, good + "\r\n", true, ""},
             Case{true, good + "\n\r\n", true, good},
             Case{true, longest, true, longest},
             // What is no sentence is dropped; the next sentence still counts.
             Case{true, Sentence("PMTK" + std::string(73, '0')) + good, true, good},
             Case{true, "$PMTK000*00\r\n" + good, true, good},
             Case{true, "hello\r\n" + good, true, good},
             // A stray byte inside a sentence refuses it whole (a CR is not mended away).
             Case{true, "$PMTK\r" + Sentence("PMTK220,200").substr(5) + good, true, good},
             Case{true, good.substr(0, good.size() - 2) + "\r\r\n" + good, true, good},
             // Probes a program that reads any source sends on connecting, binary among them.
             Case{true, probes, true, "$PGRMCE*0E\r\n" + good},
             // A flood of what is no sentence ends the connection.
             Case{false, std::string(4096, '\x01'), false, ""},
             Case{true, std::string(3000, 'x') + "\n", false, ""},
         }) {
        settings_.tcpWrite = c.write ? 1 : 0;
        sink_.written.clear();
        Serve();
        Client client(settings_.tcpPort);
        Loop(2);
        client.Send(c.sent);
        Loop(3);
        EXPECT_EQ(output_.ClientCount(), c.stays ? 1u : 0u) << c.sent;
        EXPECT_EQ(sink_.written, c.toReceiver) << c.sent;
        output_.Close();
        settings_.tcpPort = 0;
        output_.Configure(settings_, now_);
    }
}

TEST_F(NetworkOutputTest, SentencesOverTheWriteRateAreCountedAndNotWritten) {
    settings_.tcpWrite = 1;
    Serve();
    Client client(settings_.tcpPort);
    Loop(2);
    const std::string good = Sentence("PMTK000");
    std::string burst;
    for (uint32_t i = 0; i < NetworkOutput::writeBurst + 10; ++i) {
        burst += good;
    }
    client.Send(burst);
    Loop(3);
    EXPECT_EQ(Count(sink_.written, good), NetworkOutput::writeBurst);
    EXPECT_EQ(output_.RateLimited(), 10u);
    // A second later, writeRate more go through.
    now_ += 1000;
    client.Send(burst);
    Loop(3);
    EXPECT_EQ(Count(sink_.written, good), NetworkOutput::writeBurst + NetworkOutput::writeRate);
    NetworkClientInfo info;
    ASSERT_TRUE(output_.Client(0, info));
    EXPECT_EQ(info.sentencesLimited, 10u + burst.size() / good.size() - NetworkOutput::writeRate);
    EXPECT_EQ(output_.ClientCount(), 1u) << "limited, not disconnected";
}

TEST_F(NetworkOutputTest, SilentClientsGoInSecondsAndMakeRoomWhileReadOnlyOnesStay) {
    // The system takes in more than the hub's buffer for a client that never reads: its
    // shrinking window tells, before the hub's own buffer fills. (A window shrinks only once
    // the unread bytes reach what it advertises: here a small one.)
    settings_.tcpClients = 2;
    Serve();
    Client silent(settings_.tcpPort, AF_INET, 4096);
    Client readOnly(settings_.tcpPort);
    Loop(2);
    ASSERT_EQ(shutdown(readOnly.Fd(), SHUT_WR), 0);
    Loop(2);
    ASSERT_EQ(output_.ClientCount(), 2u) << "a closed sending side is no goodbye";
    output_.Tick(now_);
    // 10 KB, under the hub's own buffer: the silent client's system takes it all.
    std::string sent;
    std::string received;
    for (int i = 0; i < 400; ++i) {
        const std::string line = Sentence("GPTXT,01,01,02," + std::to_string(i));
        sent += line;
        Relay(line);
        received += readOnly.Read();
    }
    Loop(2);
    EXPECT_EQ(received + readOnly.Read(), sent);
    output_.Tick(now_);
    // At the limit a newcomer waits for the grace, then takes the silent client's place.
    Client early(settings_.tcpPort);
    Loop(2);
    EXPECT_EQ(output_.Refused(), 1u);
    now_ += NetworkOutput::stallGraceMs;
    output_.Tick(now_);
    Client newcomer(settings_.tcpPort);
    Loop(2);
    EXPECT_EQ(output_.ClientCount(), 2u);
    EXPECT_EQ(output_.StallDisconnects(), 1u);
    bool closed = false;
    silent.Read(&closed);
    EXPECT_TRUE(closed) << "the silent client made room";
    const std::string rmc = Sentence("GPRMC,120000,A,4807.038,N,01131.000,E,0.0,0.0,230313,,");
    Relay(rmc);
    Loop(2);
    EXPECT_EQ(newcomer.Read(), rmc);
    EXPECT_EQ(readOnly.Read(), rmc);
    // Left alone, a silent client goes after stallMs.
    now_ += NetworkOutput::stallMs;
    output_.Tick(now_);
    EXPECT_EQ(output_.ClientCount(), 2u) << "the readers stay";
}

TEST_F(NetworkOutputTest, AtTheLimitAClientThatDoesNotReadMakesWayAndReadersStay) {
    // A program that never reads, with its system's default buffer, is taken megabytes before
    // its window shrinks; its system acknowledges late (when its delayed acknowledgement is
    // due), a reader's at once. The reader is the longest served.
    settings_.tcpClients = 2;
    Serve();
    Client reader(settings_.tcpPort);
    Loop(2);
    Client silent(settings_.tcpPort);
    Loop(2);
    ASSERT_EQ(output_.ClientCount(), 2u);
    std::atomic<bool> stop{false};
    std::string received;
    std::thread reading([&] {
        pollfd ready{reader.Fd(), POLLIN, 0};
        while (!stop) {
            if (poll(&ready, 1, 20) > 0) {
                received += reader.Read();
            }
        }
    });
    std::string sent;
    for (int i = 0; i < 80; ++i) { // 4 s, for the round trips to settle; 20 s of hub time
        const std::string line = Sentence("GPTXT,01,01,02," + std::to_string(i));
        sent += line;
        Relay(line);
        Loop(1, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        now_ += 250;
        output_.Tick(now_);
    }
    Client newcomer(settings_.tcpPort);
    Loop(2);
    Client another(settings_.tcpPort);
    Loop(2);
    const std::string rmc = Sentence("GPRMC,120000,A,4807.038,N,01131.000,E,0.0,0.0,230313,,");
    Relay(rmc);
    Loop(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
    reading.join();
    EXPECT_EQ(received, sent + rmc) << "the reader kept its slot and every byte";
    bool closed = false;
    silent.Read(&closed);
    EXPECT_TRUE(closed) << "the client that does not read made way";
    EXPECT_EQ(newcomer.Read(), rmc);
    another.Read(&closed);
    EXPECT_TRUE(closed) << "readers keep their slots: the next one is turned away";
    EXPECT_EQ(output_.Displaced(), 1u);
    EXPECT_EQ(output_.StallDisconnects(), 0u);
}

TEST_F(NetworkOutputTest, AtTheLimitNoOneHostKeepsTheOthersOut) {
    // Where nothing tells a client does not read, a host holding two slots more than the
    // newcomer's makes way with its longest-served client; otherwise the newcomer goes.
    struct Case {
        const char* what;
        std::vector<const char*> holders; // oldest first
        const char* newcomer;
        uint32_t servedMs; // how long the holders have been served
        int makesWay;      // the holder that goes; -1: the newcomer is turned away
    };
    const Case cases[] = {
        {"a burst of one host", {"127.0.0.1", "127.0.0.1", "127.0.0.1"}, "127.0.0.1", 0, -1},
        {"one host, served long", {"127.0.0.1", "127.0.0.1", "127.0.0.1"}, "127.0.0.1", 60000, -1},
        {"one host holds every slot", {"127.0.0.2", "127.0.0.1", "127.0.0.1"}, "127.0.0.3", 0, 1},
        {"hosts hold as many", {"127.0.0.1", "127.0.0.2", "127.0.0.3"}, "127.0.0.4", 60000, -1},
        {"the newcomer's host would hold as many",
         {"127.0.0.2", "127.0.0.1", "127.0.0.1"},
         "127.0.0.2",
         0,
         -1},
    };
    settings_.tcpClients = 3;
    const std::string rmc = Sentence("GPRMC,120000,A,4807.038,N,01131.000,E,0.0,0.0,230313,,");
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        Serve();
        std::vector<std::unique_ptr<Client>> holders;
        for (const char* from : test.holders) {
            holders.push_back(std::make_unique<Client>(settings_.tcpPort, AF_INET, 0, from));
            Loop(2);
        }
        now_ += test.servedMs;
        output_.Tick(now_);
        const uint64_t displaced = output_.Displaced();
        Client newcomer(settings_.tcpPort, AF_INET, 0, test.newcomer);
        Loop(2);
        Relay(rmc);
        Loop(2);
        bool closed = false;
        EXPECT_EQ(newcomer.Read(&closed), test.makesWay < 0 ? "" : rmc);
        EXPECT_EQ(closed, test.makesWay < 0);
        for (size_t i = 0; i < holders.size(); ++i) {
            const bool goes = static_cast<int>(i) == test.makesWay;
            EXPECT_EQ(holders[i]->Read(&closed), goes ? "" : rmc) << i;
            EXPECT_EQ(closed, goes) << i;
        }
        EXPECT_EQ(output_.Displaced(), displaced + (test.makesWay < 0 ? 0 : 1));
        EXPECT_EQ(output_.ClientCount(), 3u);
        output_.Close();
    }
}

TEST_F(NetworkOutputTest, EachFrameIsOneDatagramToTheTargetOverIpv4AndIpv6) {
    for (const int family : {AF_INET, AF_INET6}) {
        const int listener = socket(family, SOCK_DGRAM, 0);
        const uint16_t port = FreePort(SOCK_DGRAM, family);
        sockaddr_storage address{};
        socklen_t length = 0;
        if (family == AF_INET6) {
            auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
            v6.sin6_family = AF_INET6;
            v6.sin6_addr = in6addr_loopback;
            v6.sin6_port = htons(port);
            length = sizeof v6;
        } else {
            auto& v4 = reinterpret_cast<sockaddr_in&>(address);
            v4.sin_family = AF_INET;
            v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            v4.sin_port = htons(port);
            length = sizeof v4;
        }
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
        std::snprintf(settings_.udpTarget, sizeof settings_.udpTarget,
                      family == AF_INET6 ? "[::1]:%u" : "127.0.0.1:%u", port);
        output_.Configure(settings_, now_);
        ASSERT_TRUE(output_.SendsDatagrams()) << output_.DatagramError();
        const std::string frames[] = {Sentence("GPGGA,1"),
                                      Sentence("GPRMC," + std::string(400, '0'))};
        for (const std::string& frame : frames) {
            output_.SendFrame(reinterpret_cast<const uint8_t*>(frame.data()),
                              static_cast<uint32_t>(frame.size()));
        }
        for (const std::string& frame : frames) {
            char buffer[2048];
            pollfd entry{listener, POLLIN, 0};
            ASSERT_EQ(poll(&entry, 1, 1000), 1);
            const ssize_t got = recv(listener, buffer, sizeof buffer, 0);
            EXPECT_EQ(std::string(buffer, static_cast<size_t>(got > 0 ? got : 0)), frame);
        }
        close(listener);
    }
    std::snprintf(settings_.udpTarget, sizeof settings_.udpTarget, "no-such-host.invalid:1");
    output_.Configure(settings_, now_);
    EXPECT_FALSE(output_.SendsDatagrams());
    EXPECT_EQ(output_.DatagramError(), error::hostNotFound);
}

TEST_F(NetworkOutputTest, OutOfDescriptorsAcceptingPausesInsteadOfSpinning) {
    Serve();
    Client client(settings_.tcpPort);
    ASSERT_TRUE(client.Connected()) << "waits in the listen queue";
    DescriptorsTaken descriptors;
    ASSERT_TRUE(descriptors.Taken());
    Loop(1);
    EXPECT_NE(output_.AcceptError(), 0u);
    platform::WaitEntry entries[NetworkOutput::waitCapacity];
    EXPECT_EQ(output_.CollectWaits(entries, NetworkOutput::waitCapacity, 0), 0u)
        << "the listener, still ready, is not waited for meanwhile";
    descriptors.Release();
    now_ += NetworkOutput::acceptPauseMs;
    output_.Tick(now_);
    Loop(2);
    EXPECT_EQ(output_.AcceptError(), 0u);
    EXPECT_EQ(output_.ClientCount(), 1u);
}

TEST_F(NetworkOutputTest, TheServerFollowsItsSettingsAndServesIpv6) {
    Serve("::1");
    Client six(settings_.tcpPort, AF_INET6);
    Client four(settings_.tcpPort, AF_INET);
    EXPECT_TRUE(six.Connected());
    EXPECT_FALSE(four.Connected()) << "\"::1\" is IPv6 only";
    Loop(2);
    EXPECT_EQ(output_.ClientCount(), 1u);
    const uint16_t old = settings_.tcpPort;
    Serve("127.0.0.1");
    EXPECT_NE(output_.ListeningPort(), old);
    EXPECT_EQ(output_.ClientCount(), 0u) << "a moved server starts afresh";
    bool closed = false;
    six.Read(&closed);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(output_.OpenToNetwork());
    // A port somebody else holds: said, and tried again later.
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in taken{};
    taken.sin_family = AF_INET;
    taken.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&taken), sizeof taken), 0);
    socklen_t length = sizeof taken;
    getsockname(holder, reinterpret_cast<sockaddr*>(&taken), &length);
    listen(holder, 1);
    settings_.tcpPort = ntohs(taken.sin_port);
    output_.Configure(settings_, now_);
    EXPECT_FALSE(output_.Listening());
    EXPECT_EQ(output_.ListenError(), error::addressInUse);
    close(holder);
    output_.Configure(settings_, now_ + NetworkOutput::retryMs);
    EXPECT_TRUE(output_.Listening()) << "taken once it is free";
    // A number no port has (edited into the settings by hand): said, and left alone.
    settings_.tcpPort = 0x10000;
    output_.Configure(settings_, now_ + 2 * NetworkOutput::retryMs);
    EXPECT_FALSE(output_.Listening());
    EXPECT_EQ(output_.ListenError(), error::invalidParameter);
}

class NoSink final : public NetworkSink {
    void WriteFromNetwork(const uint8_t*, uint32_t) override {}
};

// "UDP Target" by name: the loop only starts the lookup; the sender opens once it is done.
TEST(NameLookup, TheUdpTargetIsResolvedOnAThreadAndOpensWhenTheAnswerIsIn) {
    platform::testing::FakeThreads threads(platform::testing::FakeThreads::Start::Deferred);
    NoSink sink;
    NetworkOutput output(platform::SystemNetwork(), sink, &threads);
    Settings settings;
    std::snprintf(settings.udpTarget, sizeof settings.udpTarget, "localhost:10110");
    output.Configure(settings, 0);
    EXPECT_FALSE(output.SendsDatagrams());
    EXPECT_EQ(threads.Pending(), 1u);
    threads.RunDeferred();
    output.Configure(settings, 50);
    EXPECT_TRUE(output.SendsDatagrams());
    EXPECT_EQ(output.DatagramError(), error::success);
    // A lookup still running when the target changes is dropped, and its thread ends safely.
    std::snprintf(settings.udpTarget, sizeof settings.udpTarget, "no-such-host.invalid:1");
    output.Configure(settings, 100);
    settings.udpTarget[0] = '\0';
    output.Configure(settings, 150);
    EXPECT_EQ(threads.RunDeferred(), 1u);
    EXPECT_FALSE(output.SendsDatagrams());
}

} // namespace
} // namespace tavro::testing
