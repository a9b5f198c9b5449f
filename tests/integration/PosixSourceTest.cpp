// Receivers on the network ("Source") end to end, with real peers: socat serving gps-sim's
// stream over TCP (and going away and coming back), socat serving a file of junk and a 64 KiB
// line, UDP datagrams at 10 Hz, gpsd reading gps-sim, another hub's TCP output, and peers that
// reset every second. Ports are ephemeral.
#include "tests/integration/PosixHubFixture.h"
#include "tests/integration/PosixProcess.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>

namespace tavro::testing {
namespace {

// User and system time of `pid`, in clock ticks.
long CpuTicks(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) {
            ticks += std::stol(field);
        }
    }
    return ticks;
}

// A TCP listener on the loopback interface's ephemeral port.
int Listener() {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage address{};
    const socklen_t length = LoopbackAddress(AF_INET, 0, address);
    bind(listener, reinterpret_cast<sockaddr*>(&address), length);
    listen(listener, 8);
    return listener;
}

uint16_t LocalPort(int listener) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

class PosixSource : public PosixHubEndToEnd {
protected:
    void SetUp() override {
        PosixHubEndToEnd::SetUp();
        socat_ = Program({"/usr/bin/socat"});
    }

    std::string SourceJson() {
        std::string status;
        Tavro({"status", "--json"}, status);
        const size_t at = status.find("\"source\":");
        return at == std::string::npos ? "" : status.substr(at, status.find('}', at) - at + 1);
    }

    std::string socat_;
};

TEST_F(PosixSource, ATcpSourceThatDropsIsReconnectedAndTheProgramNeverReopens) {
    if (socat_.empty()) {
        GTEST_SKIP() << "needs socat";
    }
    StartSim();
    const uint16_t port = FreePort(SOCK_STREAM);
    auto server = std::make_unique<ChildProcess>(
        std::vector<std::string>{socat_,
                                 "TCP-LISTEN:" + std::to_string(port) + ",reuseaddr,bind=127.0.0.1",
                                 "OPEN:" + Link(1) + ",raw,echo=0"},
        environment_, root_ + "/socat.log");
    Set("Source", "tcp://127.0.0.1:" + std::to_string(port));
    Set("Port0", "5");
    StartHub({5});
    StartClient(5, "app");
    ASSERT_TRUE(StreamArrives()) << Status();
    ASSERT_TRUE(Receives("app", "$GPRMC,"));
    EXPECT_NE(SourceJson().find("\"state\":\"connected\""), std::string::npos) << SourceJson();
    std::string text;
    Tavro({"status"}, text);
    EXPECT_NE(text.find("Input port:     tcp://127.0.0.1:" + std::to_string(port) + ", connected"),
              std::string::npos)
        << text;

    server->Stop(SIGTERM);
    server.reset();
    std::this_thread::sleep_for(5s);
    EXPECT_NE(SourceJson().find("\"state\":\"reconnecting\""), std::string::npos) << SourceJson();
    EXPECT_NE(SourceJson().find("\"lastError\":\"connection refused\""), std::string::npos)
        << SourceJson();
    EXPECT_NE(SourceJson().find("\"osError\":" + std::to_string(ECONNREFUSED)), std::string::npos)
        << "the system's own error beside the words";
    EXPECT_EQ(Status().rfind("NMEA Stream", 0), std::string::npos) << "no stream, no fix";
    const size_t before = Count(Received("app"), "$GPRMC,");
    server = std::make_unique<ChildProcess>(
        std::vector<std::string>{socat_,
                                 "TCP-LISTEN:" + std::to_string(port) + ",reuseaddr,bind=127.0.0.1",
                                 "OPEN:" + Link(1) + ",raw,echo=0"},
        environment_, root_ + "/socat.log");
    // Gone for 5 s, the tries came 0.5, 1, 2 s apart, and the next one is at most 4 s away.
    EXPECT_TRUE(Within(4s + 1500ms, [&] {
        return SourceJson().find("\"state\":\"connected\"") != std::string::npos;
    })) << SourceJson();
    EXPECT_NE(SourceJson().find("\"reconnects\":1"), std::string::npos) << SourceJson();
    EXPECT_TRUE(Receives("app", "$GPRMC,", before + 2, 10s)) << "the same open port reads on";
    EXPECT_TRUE(clients_.back()->Running());
    EXPECT_TRUE(StreamArrives()) << Status();
}

// Paced as a fast line would carry it (about 1 Mbit/s): a burst larger than a terminal holds
// (about 18 KB) would be cut for any program, as for one that does not read in time.
TEST_F(PosixSource, JunkAndLongLinesFromATcpPeerReachTheProgramByteForByteAndWritesReachIt) {
    std::string stream = Sentence("GPTXT,01,01,02,before");
    for (int i = 0; i < 4096; ++i) {
        stream += static_cast<char>((i * 7919) & 0xFF);
    }
    stream += "\n" + std::string(64 * 1024, 'L') + "\r\n";
    for (int i = 0; i < 20; ++i) {
        stream += Sentence("GPTXT,01,01,02,after " + std::to_string(i));
    }
    const int listener = Listener();
    const uint16_t port = LocalPort(listener);
    Set("Source", "tcp://127.0.0.1:" + std::to_string(port));
    Set("Port0", "5");
    StartHub({5});
    ChildProcess& program = StartClient(5, "app");
    std::atomic<bool> done{false};
    std::string written; // what the peer got from the hub
    std::thread peer([&] {
        pollfd entry{listener, POLLIN, 0};
        const int client = poll(&entry, 1, 10000) == 1 ? accept(listener, nullptr, nullptr) : -1;
        for (size_t at = 0; client >= 0 && at < stream.size(); at += 1024) {
            send(client, stream.data() + at, std::min<size_t>(1024, stream.size() - at),
                 MSG_NOSIGNAL);
            std::this_thread::sleep_for(10ms);
        }
        char buffer[256];
        for (pollfd wait{client, POLLIN, 0}; client >= 0 && !done && poll(&wait, 1, 100) >= 0;) {
            const ssize_t got =
                (wait.revents & POLLIN) != 0 ? recv(client, buffer, sizeof buffer, 0) : 0;
            if (got > 0) {
                written.append(buffer, static_cast<size_t>(got));
            }
        }
        close(client);
    });
    EXPECT_TRUE(Within(20s, [&] { return Received("app").size() >= stream.size(); }))
        << Received("app").size() << " of " << stream.size();
    EXPECT_TRUE(Received("app") == stream) << "byte for byte, once";
    std::string status;
    Tavro({"status"}, status);
    EXPECT_NE(status.find(std::to_string(stream.size()) + " bytes"), std::string::npos) << status;
    // The program's and the command's writes go to the source.
    program.SendInput(Sentence("PMTK000"));
    std::string output;
    EXPECT_EQ(Tavro({"send", "write", "$PMTK605*31"}, output), 0) << output;
    std::this_thread::sleep_for(1s);
    done = true;
    peer.join();
    close(listener);
    EXPECT_NE(written.find(Sentence("PMTK000")), std::string::npos) << written;
    EXPECT_NE(written.find("$PMTK605*31\r\n"), std::string::npos) << written;
}

TEST_F(PosixSource, ASourceSetLiveGetsDatagramsAtTenHertzWholeAndInOrderAndTakesNoWrites) {
    const uint16_t port = FreePort(SOCK_DGRAM);
    Set("Port0", "5");
    StartHub({5});
    StartClient(5, "app");
    // Set while the hub runs: taken at once.
    Set("Source", "udp://127.0.0.1:" + std::to_string(port));
    ASSERT_TRUE(Within(10s, [&] {
        return SourceJson().find("\"state\":\"listening\"") != std::string::npos;
    })) << SourceJson();
    const int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_storage to{};
    const socklen_t length = LoopbackAddress(AF_INET, port, to);
    std::string sent;
    for (int i = 0; i < 30; ++i) {
        const std::string datagram = Sentence("GPTXT,01,01,02,datagram " + std::to_string(i));
        sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
               length);
        sent += datagram;
        std::this_thread::sleep_for(100ms);
    }
    close(sender);
    EXPECT_TRUE(Within(5s, [&] { return Received("app").size() >= sent.size(); }));
    EXPECT_EQ(Received("app"), sent);
    std::string output;
    EXPECT_NE(Tavro({"send", "write", "$PMTK000*32"}, output), 0);
    EXPECT_NE(output.find("this source cannot be written to"), std::string::npos) << output;
    EXPECT_NE(Tavro({"send", "baud", "9600"}, output), 0);
    EXPECT_NE(output.find("serial receivers only"), std::string::npos) << output;
}

TEST_F(PosixSource, GpsdReadingTheReceiverIsASourceOfItsRawSentences) {
    const std::string gpsd = Program({"/usr/sbin/gpsd", "/usr/bin/gpsd"});
    if (gpsd.empty()) {
        GTEST_SKIP() << "needs gpsd (Debian package gpsd)";
    }
    StartSim();
    const uint16_t gpsdPort = FreePort(SOCK_STREAM);
    ChildProcess daemon({gpsd, "-N", "-n", "-b", "-F", root_ + "/gpsd.sock", "-P",
                         root_ + "/gpsd.pid", "-S", std::to_string(gpsdPort),
                         std::filesystem::read_symlink(Link(1)).string()},
                        environment_, root_ + "/gpsd.log");
    Set("Source", "gpsd://127.0.0.1:" + std::to_string(gpsdPort));
    Set("Port0", "5");
    StartHub({5});
    StartClient(5, "app");
    ASSERT_TRUE(Within(30s, [&] { return Status().rfind("NMEA Stream | 3D Fix", 0) == 0; }))
        << Status() << SourceJson() << FileText(root_ + "/gpsd.log");
    ASSERT_TRUE(Receives("app", "$GPRMC,", 3));
    const std::string received = Received("app");
    EXPECT_EQ(received.find('{'), std::string::npos) << "none of gpsd's JSON";
    // Whole sentences, each with its checksum, from the first line start on.
    const std::string lines = received.substr(received.find('$'));
    EXPECT_EQ(Count(lines, "$"), Count(lines, "\r\n") + (lines.back() == '\n' ? 0 : 1));
}

TEST_F(PosixSource, AHubReadsAnotherHubsTcpOutput) {
    StartSim();
    const uint16_t tcpPort = FreePort(SOCK_STREAM);
    Set("TCP Port", std::to_string(tcpPort));
    StartHub({});
    ASSERT_TRUE(StreamArrives()) << Status();
    const PrivateStage second = MakePrivateStage("tavro-e2e-chained");
    std::string output;
    ASSERT_EQ(RunProgram({TAVRO_PATH, "config", "set", "Source",
                          "tcp://127.0.0.1:" + std::to_string(tcpPort)},
                         second.environment, output, second.root + "/tool.out"),
              0)
        << output;
    ChildProcess chained({TAVRO_PATH, "run"}, second.environment, second.root + "/hub.log");
    std::string status;
    EXPECT_TRUE(Within(20s, [&] {
        RunProgram({TAVRO_PATH, "status"}, second.environment, status, second.root + "/tool.out");
        return status.rfind("NMEA Stream | 3D Fix", 0) == 0;
    })) << status;
    // Its "Port" (COM1) names nothing, and changes in its COM directory are no concern of a
    // network source: the connection stays.
    std::filesystem::create_symlink("/dev/null", second.root + "/dev/COM9");
    std::this_thread::sleep_for(2s);
    RunProgram({TAVRO_PATH, "status"}, second.environment, status, second.root + "/tool.out");
    EXPECT_NE(status.find(", connected; "), std::string::npos) << status;
    EXPECT_NE(status.find(" 0 reconnects"), std::string::npos) << status;
    chained.Stop(SIGTERM);
    std::error_code ignored;
    std::filesystem::remove_all(second.root, ignored);
}

TEST_F(PosixSource, PeersThatResetOrKeepSilentNeitherSpinTheHubNorLeakDescriptors) {
    // A peer that takes each connection and resets it a second later.
    const int listener = Listener();
    const uint16_t port = LocalPort(listener);
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0};
    std::thread peer([&] {
        while (!stop) {
            pollfd entry{listener, POLLIN, 0};
            if (poll(&entry, 1, 100) != 1) {
                continue;
            }
            const int client = accept(listener, nullptr, nullptr);
            ++accepted;
            std::this_thread::sleep_for(1s);
            const linger reset{1, 0};
            setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            close(client);
        }
    });
    Set("Source", "tcp://127.0.0.1:" + std::to_string(port));
    StartHub({});
    ASSERT_TRUE(Within(10s, [&] { return accepted >= 1; }));
    std::this_thread::sleep_for(2s);
    const size_t descriptors = OpenDescriptors(hub_->Pid());
    const long cpu = CpuTicks(hub_->Pid());
    const int connections = accepted;
    std::this_thread::sleep_for(10s);
    const long used = CpuTicks(hub_->Pid()) - cpu;
    stop = true;
    peer.join();
    close(listener);
    EXPECT_GE(accepted - connections, 2) << "tried again, with back-off";
    EXPECT_LE(accepted - connections, 5) << "but not at once";
    // 10 s of 50 ms ticks and a few connections: far below a spinning loop's 1000 ticks.
    EXPECT_LT(used, sysconf(_SC_CLK_TCK) / 2) << used << " ticks";
    EXPECT_LE(OpenDescriptors(hub_->Pid()), descriptors + 1);
    EXPECT_NE(SourceJson().find("\"lastError\":\"connection reset\""), std::string::npos)
        << SourceJson();
}

} // namespace
} // namespace tavro::testing
