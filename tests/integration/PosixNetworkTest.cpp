// The network output end to end, with real programs: gpsd reading the hub over TCP (gpspipe
// showing gps-sim's position), nc and socat as readers, a UDP listener, a client that writes
// to the receiver with "TCP Write", and crowds of misbehaving clients. Ports are ephemeral.
#include "tests/integration/PosixHubFixture.h"
#include "tests/integration/PosixProcess.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace tavro::testing {
namespace {

class PosixNetwork : public PosixHubEndToEnd {
protected:
    void StartWithServer() {
        tcpPort_ = FreePort(SOCK_STREAM);
        ASSERT_NE(tcpPort_, 0);
        Set("TCP Port", std::to_string(tcpPort_));
        StartSim();
        StartHub({});
        ASSERT_TRUE(StreamArrives()) << Status();
    }

    // nc reading the server; its output in <name>.out.
    ChildProcess& Reader(const std::string& name) {
        const std::string nc = Program({"/usr/bin/nc", "/bin/nc"});
        readers_.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{nc, "127.0.0.1", std::to_string(tcpPort_)}, environment_,
            Output(name), true));
        return *readers_.back();
    }

    uint16_t tcpPort_ = 0;
    std::vector<std::unique_ptr<ChildProcess>> readers_;
};

TEST_F(PosixNetwork, GpsdOverTcpAndAUdpListenerGetTheSimulatedReceiver) {
    const std::string gpsd = Program({"/usr/sbin/gpsd", "/usr/bin/gpsd"});
    const std::string gpspipe = Program({"/usr/bin/gpspipe", "/usr/local/bin/gpspipe"});
    const std::string socat = Program({"/usr/bin/socat"});
    if (gpsd.empty() || gpspipe.empty() || socat.empty()) {
        GTEST_SKIP() << "needs gpsd, gpspipe and socat (Debian packages gpsd gpsd-clients socat)";
    }
    const uint16_t udpPort = FreePort(SOCK_DGRAM);
    Set("UDP Target", "127.0.0.1:" + std::to_string(udpPort));
    ChildProcess listener({socat, "-u", "UDP-RECV:" + std::to_string(udpPort), "-"}, environment_,
                          Output("udp"));
    StartWithServer();
    // gpsd given only the hub's address; gpspipe reads gpsd.
    const uint16_t gpsdPort = FreePort(SOCK_STREAM);
    ChildProcess daemon({gpsd, "-N", "-n", "-F", root_ + "/gpsd.sock", "-P", root_ + "/gpsd.pid",
                         "-S", std::to_string(gpsdPort),
                         "tcp://127.0.0.1:" + std::to_string(tcpPort_)},
                        environment_, root_ + "/gpsd.log");
    std::string reports;
    ASSERT_TRUE(Within(30s,
                       [&] {
                           ChildProcess pipe(
                               {gpspipe, "-w", "-n", "12", "127.0.0.1:" + std::to_string(gpsdPort)},
                               environment_, Output("gpspipe"));
                           pipe.Wait(10s);
                           reports = Received("gpspipe");
                           return reports.find("\"class\":\"TPV\"") != std::string::npos &&
                                  reports.find("\"mode\":3") != std::string::npos;
                       }))
        << reports << FileText(root_ + "/gpsd.log");
    const size_t tpv = reports.rfind("\"class\":\"TPV\"");
    const std::string fix = reports.substr(tpv, reports.find('\n', tpv) - tpv);
    std::string status;
    ASSERT_EQ(Tavro({"status", "--json"}, status), 0);
    EXPECT_NEAR(JsonNumber(fix, "lat"), JsonNumber(status, "latitude"), 0.01) << fix;
    EXPECT_NEAR(JsonNumber(fix, "lon"), JsonNumber(status, "longitude"), 0.01) << fix;
    EXPECT_NE(status.find("\"clients\":[{\"address\":\"127.0.0.1:"), std::string::npos)
        << "gpsd is listed: " << status;
    EXPECT_NE(status.find("\"datagramsSent\":"), std::string::npos) << status;

    // Datagrams: whole sentences, one each (the listener writes them back to back).
    EXPECT_TRUE(Within(10s, [&] { return Count(Received("udp"), "$GPRMC,") >= 2; }));
    const std::string datagrams = Received("udp");
    const size_t firstWhole = datagrams.find("\r\n$") + 2;
    EXPECT_EQ(Count(datagrams.substr(firstWhole), "$"),
              Count(datagrams.substr(firstWhole), "\r\n"));
}

TEST_F(PosixNetwork, ClientsWriteToTheReceiverOnlyWithTcpWriteAndWholeSentences) {
    StartWithServer();
    ChildProcess& client = Reader("client");
    ASSERT_TRUE(Receives("client", "$GPRMC,"));
    ASSERT_TRUE(client.SendInput(Sentence("PMTK400")));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Count(Received("client"), "$PMTK500"), 0u) << "\"TCP Write\" is off by default";
    EXPECT_TRUE(client.Running()) << "a sentence is no garbage";

    Set("TCP Write", "on"); // applies to the running hub
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(client.SendInput(Sentence("PMTK400")));
    EXPECT_TRUE(Receives("client", "$PMTK500", 1, 10s)) << "the receiver answered";
    ASSERT_TRUE(client.SendInput(std::string(4096, '#') + "\n"));
    std::string status;
    EXPECT_TRUE(Within(5s,
                       [&] {
                           Tavro({"status", "--json"}, status);
                           return Count(status, "\"bytesSent\"") == 0;
                       }))
        << "a flood of garbage ends the connection: " << status;
    EXPECT_EQ(Count(FileText(root_ + "/sim.log"), "gps-sim: command $PMTK400"), 1u);
}

TEST_F(PosixNetwork, StormsOfConnectionsAndGarbageLeaveTheOthersServedAndNothingBehind) {
    StartWithServer();
    Reader("steady");
    ASSERT_TRUE(Receives("steady", "$GPRMC,"));
    const size_t descriptors = OpenDescriptors(hub_->Pid());
    // One that never reads, connections that come and go, clients that send garbage.
    const int sleeper = ConnectLoopback(tcpPort_);
    ASSERT_GE(sleeper, 0);
    for (int i = 0; i < 300; ++i) {
        const int fd = ConnectLoopback(tcpPort_);
        if (fd >= 0 && i % 3 == 0) {
            const char garbage[] = "\x01\xff garbage \x02";
            send(fd, garbage, sizeof garbage, MSG_NOSIGNAL);
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    const size_t before = Count(Received("steady"), "$GPRMC,");
    EXPECT_TRUE(Receives("steady", "$GPRMC,", before + 2, 10s)) << "still served";
    close(sleeper);
    std::string status;
    EXPECT_TRUE(Within(5s,
                       [&] {
                           Tavro({"status", "--json"}, status);
                           return Count(status, "\"bytesSent\"") == 1;
                       }))
        << "only the steady reader is left: " << status;
    EXPECT_LE(OpenDescriptors(hub_->Pid()), descriptors) << "no descriptor leaks";
    EXPECT_TRUE(hub_->Running());
}

} // namespace
} // namespace tavro::testing
