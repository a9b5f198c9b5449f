// The POSIX hub end to end, with real processes only: gps-sim on COM1, `tavro run`, client
// programs on the virtual ports, the `tavro` verbs, and gpsd as a third-party client. Every
// test has its own COM directory, settings folder and status block name, so tests can run in
// parallel with each other and with a hub the user runs.
#include "tests/integration/PosixHubFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace tavro::testing {
namespace {

using namespace std::chrono_literals;

// From a sentence both streams hold on, the bytes must be the same for as long as both last.
void ExpectSameStream(const std::string& first, const std::string& second) {
    const size_t lineStart = second.find("\n$GPRMC");
    ASSERT_NE(lineStart, std::string::npos);
    const size_t lineEnd = second.find('\n', lineStart + 1);
    ASSERT_NE(lineEnd, std::string::npos);
    const std::string anchor = second.substr(lineStart, lineEnd - lineStart + 1);
    const size_t inFirst = first.find(anchor);
    ASSERT_NE(inFirst, std::string::npos) << "the other client missed " << anchor;
    const size_t length = std::min(first.size() - inFirst, second.size() - lineStart);
    EXPECT_GT(length, 1000u) << "enough of the stream to compare";
    EXPECT_TRUE(first.compare(inFirst, length, second, lineStart, length) == 0)
        << "the clients received different bytes";
}

TEST_F(PosixHubEndToEnd, ThreeClientsReceiveTheSameStreamAndOneCanTalkToTheReceiver) {
    Set("Port0", "5");
    Set("Port1", "6");
    Set("Port2", "7");
    StartSim();
    StartHub({5, 6, 7});
    ASSERT_TRUE(StreamArrives()) << Status();
    ChildProcess& first = StartClient(5, "first");
    StartClient(6, "second");
    StartClient(7, "third");
    for (const char* name : {"first", "second", "third"}) {
        ASSERT_TRUE(Receives(name, "$GPRMC,", 3)) << name;
    }

    // A query written by the first client reaches gps-sim, whose answer every client hears.
    ASSERT_TRUE(first.SendInput(Sentence("PMTK400")));
    for (const char* name : {"first", "second", "third"}) {
        EXPECT_TRUE(Receives(name, "$PMTK500,")) << name;
    }
    ASSERT_TRUE(Receives("third", "$GPRMC,", Count(Received("third"), "$GPRMC,") + 2));
    for (auto& client : clients_) {
        EXPECT_EQ(client->Stop(), 0);
    }
    const std::string a = Received("first");
    ExpectSameStream(a, Received("second"));
    ExpectSameStream(a, Received("third"));
    EXPECT_EQ(Count(a, "$PMTK400"), 0u) << "a client's bytes go to the receiver, not to clients";
}

TEST_F(PosixHubEndToEnd, ReadOnlyLetsOnlyTheFirstVirtualPortWrite) {
    Set("Port0", "5");
    Set("Port1", "6");
    Set("read-only", "on");
    StartSim();
    StartHub({5, 6});
    ASSERT_TRUE(StreamArrives()) << Status();
    ChildProcess& first = StartClient(5, "first");
    ChildProcess& second = StartClient(6, "second");
    ASSERT_TRUE(Receives("second", "$GPRMC,", 2));

    ASSERT_TRUE(second.SendInput(Sentence("PMTK400")));
    // The first client's query is answered, so by then the second's would have been too.
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(first.SendInput(Sentence("PMTK414")));
    EXPECT_TRUE(Receives("second", "$PMTK514,"));
    EXPECT_TRUE(Receives("first", "$PMTK514,"));
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(Count(Received("first") + Received("second"), "$PMTK500"), 0u)
        << "the second port's query was dropped";
}

TEST_F(PosixHubEndToEnd, BatterySaverOpensTheInputOnlyWhileAClientIsThere) {
    Set("Port0", "5");
    Set("Battery Saver", "on");
    StartSim();
    StartHub({5});
    // Well past the first open attempt of a hub without Battery Saver.
    std::this_thread::sleep_for(4s);
    EXPECT_EQ(Status(), "Port Closed\n");

    {
        ChildProcess& client = StartClient(5, "first");
        EXPECT_TRUE(StreamArrives()) << Status();
        EXPECT_TRUE(Receives("first", "$GPRMC,", 2));
        EXPECT_EQ(client.Stop(), 0);
    }
    EXPECT_TRUE(Within(10s, [&] { return Status() == "Port Closed\n"; })) << Status();
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(Status(), "Port Closed\n") << "stays closed without clients";

    StartClient(5, "second");
    EXPECT_TRUE(StreamArrives()) << Status();
    EXPECT_TRUE(Receives("second", "$GPRMC,", 2));
}

TEST_F(PosixHubEndToEnd, TheCommandSocketInjectsFramesAndHoldsTheRelay) {
    Set("Port0", "5");
    StartSim();
    StartHub({5});
    ASSERT_TRUE(StreamArrives()) << Status();
    std::string output;
    StartClient(5, "client");
    ASSERT_TRUE(Receives("client", "$GPRMC,"));
    // The position below must stand out against a decoded fix of the receiver's.
    ASSERT_TRUE(Within(streamPatience,
                       [&] {
                           Tavro({"status", "--json"}, output);
                           return JsonNumber(output, "rmcCount") >= 2 &&
                                  JsonNumber(output, "latitude") > 40.0;
                       }))
        << "the hub decodes the receiver's sentences: " << output;

    const std::string text = Sentence("GPTXT,01,01,02,end to end");
    ASSERT_EQ(Tavro({"send", "inject", text.substr(0, text.size() - 2)}, output), 0) << output;
    EXPECT_TRUE(Receives("client", text)) << "an injected frame is relayed like receiver data";
    // A sentence that fails its checksum is ignored, and the sender hears of it.
    EXPECT_EQ(Tavro({"send", "inject", "$GPTXT,01,01,02,bad sum*00"}, output), 1);
    EXPECT_NE(output.find("ignored the frame"), std::string::npos) << output;

    ASSERT_EQ(Tavro({"send", "hold"}, output), 0) << output;
    std::this_thread::sleep_for(500ms);
    const size_t heldAt = Received("client").size();
    // Held: receiver data is no longer decoded or relayed, injected frames are still decoded.
    const std::string position =
        Sentence("GPGGA,120000.000,1030.0000,N,02015.0000,E,1,08,1.0,100.0,M,47.0,M,,");
    ASSERT_EQ(Tavro({"send", "inject", position}, output), 0) << output;
    EXPECT_TRUE(Within(5s, [&] {
        Tavro({"status", "--json"}, output);
        return JsonNumber(output, "latitude") == 10.5;
    })) << output;
    EXPECT_NE(output.find("\"relayHeld\":1"), std::string::npos) << output;
    EXPECT_EQ(JsonNumber(output, "longitude"), 20.25);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Received("client").size(), heldAt) << "nothing reaches the client while held";
    Tavro({"status", "--json"}, output);
    EXPECT_EQ(JsonNumber(output, "latitude"), 10.5) << "the receiver's data is not decoded";

    ASSERT_EQ(Tavro({"send", "release"}, output), 0) << output;
    EXPECT_TRUE(
        Within(10s, [&] { return Count(Received("client").substr(heldAt), "$GPRMC,") >= 2; }));
    EXPECT_TRUE(Within(5s, [&] {
        Tavro({"status", "--json"}, output);
        return JsonNumber(output, "latitude") > 40.0;
    })) << output;

    // Requests the hub cannot use get an answer that says so.
    EXPECT_NE(Tavro({"send", "raw", "9"}, output), 0);
    EXPECT_NE(output.find("refused"), std::string::npos) << output;
    EXPECT_NE(Tavro({"send", "raw", "4", "8025"}, output), 0) << "a speed of two bytes";
    EXPECT_NE(Tavro({"send", "inject", std::string(600, 'x')}, output), 0) << "beyond a frame";
    EXPECT_NE(Tavro({"send", "raw", "2"}, output), 0) << "no frame at all";
    EXPECT_TRUE(hub_->Running());
}

TEST_F(PosixHubEndToEnd, StatusShowsTheStatusLineAndSignalsEndTheHubCleanly) {
    std::string output;
    EXPECT_EQ(Tavro({"status"}, output), 4);
    EXPECT_EQ(Status(), "Hub not running\n");
    Set("Port0", "5");
    StartSim();
    StartHub({5});
    ASSERT_TRUE(StreamArrives()) << Status();
    EXPECT_TRUE(Within(streamPatience, [&] {
        return std::regex_match(Status(),
                                std::regex(R"(NMEA Stream \| 3D Fix \| \d+ SVs :\d\d\n)"));
    })) << Status();
    EXPECT_EQ(Tavro({"status", "--json"}, output), 0);
    EXPECT_NE(output.find("\"hubRunning\":true"), std::string::npos) << output;

    // A second hub for the same directory does not start: it hands over to the first.
    EXPECT_EQ(Tavro({"run"}, output), 0);
    EXPECT_NE(output.find("already runs"), std::string::npos) << output;
    EXPECT_TRUE(hub_->Running());

    EXPECT_EQ(hub_->Stop(SIGINT), 0);
    const std::string log = FileText(root_ + "/hub.log");
    EXPECT_NE(log.find("stopping"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Link(5))));
    EXPECT_FALSE(std::filesystem::exists(root_ + "/dev/TavroMsgWnd"));
    EXPECT_TRUE(std::filesystem::is_symlink(Link(1))) << "the receiver's link is not the hub's";
    EXPECT_EQ(Tavro({"status"}, output), 4);
    EXPECT_EQ(Status(), "Hub not running\n");
}

TEST_F(PosixHubEndToEnd, AHubKilledOutrightLeavesNothingThatStopsTheNextOne) {
    Set("Port0", "5");
    StartSim();
    StartHub({5});
    ASSERT_TRUE(StreamArrives()) << Status();
    EXPECT_EQ(hub_->Stop(SIGKILL), 128 + SIGKILL);
    // Its status block, command socket and links are still there, but nobody serves them.
    EXPECT_EQ(Status(), "Hub not running\n");

    StartHub({5});
    ASSERT_TRUE(StreamArrives()) << Status();
    StartClient(5, "client");
    EXPECT_TRUE(Receives("client", "$GPRMC,"));
    std::string output;
    EXPECT_EQ(Tavro({"send", "hold"}, output), 0) << output;
    EXPECT_EQ(hub_->Stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Link(5))));
}

// The hub would make its link again at once: removing it must not seem to work.
TEST_F(PosixHubEndToEnd, UnlinkRefusesAVirtualPortOfTheRunningHub) {
    Set("Port0", "5");
    StartHub({5});
    const ProgramRun run =
        RunProgramApart({TAVRO_PATH, "unlink", "COM5"}, environment_, root_ + "/unlink.out");
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.errors.find("COM5 is a virtual port of the running hub"), std::string::npos)
        << run.errors;
    EXPECT_TRUE(std::filesystem::is_symlink(Link(5)));
}

// Every state `tavro status` tells, as a user meets them: virtual port numbers given twice, a
// receiver that is not there, a client on a port, then the receiver's stream.
TEST_F(PosixHubEndToEnd, StatusExplainsTheStateOfTheHubAndItsPorts) {
    std::string output;
    Set("Port0", "5");
    ASSERT_EQ(Tavro({"config", "set", "Port1", "5", "--force"}, output), 0) << output;
    StartHub({});
    ASSERT_TRUE(Within(10s, [&] { return Status() == "Port Doesn't Exist\n"; })) << Status();
    EXPECT_EQ(Tavro({"status"}, output), 3);
    for (const char* text : {"tavro link COM1 DEVICE", "Input port:     COM1 at 4800 baud, closed",
                             "Warning:        no virtual ports: virtual ports 1 and 2 all have "
                             "COM5"}) {
        EXPECT_NE(output.find(text), std::string::npos) << text << "\n" << output;
    }
    EXPECT_EQ(hub_->Stop(), 0);
    // The run log: on standard error, each line with the time, the problems in the same words.
    EXPECT_TRUE(std::regex_search(
        FileText(root_ + "/hub.log"),
        std::regex(
            R"(\n\d{4}-\d\d-\d\d \d\d:\d\d:\d\d tavro: no virtual ports: virtual ports 1 )")))
        << FileText(root_ + "/hub.log");

    Set("Port1", "6");
    StartHub({5, 6});
    EXPECT_TRUE(Within(10s, [&] {
        Tavro({"status"}, output);
        return std::regex_search(output,
                                 std::regex(R"(Virtual port 1: COM5 -> /dev/pts/\d+, no program, )"
                                            R"(0 bytes relayed, 0 dropped\nVirtual port 2: COM6)"));
    })) << output;
    StartClient(5, "client");
    EXPECT_TRUE(Within(10s, [&] {
        Tavro({"status"}, output);
        return std::regex_search(output, std::regex(R"(COM5 -> /dev/pts/\d+, in use)"));
    })) << output;
    StartSim();
    ASSERT_TRUE(StreamArrives()) << Status();
    EXPECT_TRUE(Within(streamPatience, [&] {
        return Tavro({"status", "--json"}, output) == 0 &&
               std::regex_search(output, std::regex(R"("utcTime":"\d{4}-\d\d-\d\dT\d\d:\d\d:)"
                                                    R"(\d\d\.\d{3}Z")"));
    })) << output;
    EXPECT_NE(output.find("\"input\":{\"port\":1,\"baud\":4800,\"open\":true"), std::string::npos)
        << output;
    EXPECT_NE(output.find("\"nmeaRates\":null"), std::string::npos) << "not asked for yet";
    EXPECT_TRUE(std::regex_search(
        output,
        std::regex(R"("com":5,[^}]*"programs":1,"bytesRelayed":[1-9]\d*,"bytesDropped":0)")))
        << output;
}

// The block keeps a stopped receiver's last fix; the status tells that it is no longer current
// and how old it is. A hub that never had a receiver shows no values at all.
TEST_F(PosixHubEndToEnd, TheStatusTellsWhetherTheFixIsCurrentAndHowOldItIs) {
    Set("Port0", "5");
    StartHub({5});
    ASSERT_TRUE(Within(10s, [&] { return Status() == "Port Doesn't Exist\n"; })) << Status();
    std::string json;
    Tavro({"status", "--json"}, json);
    for (const char* name : {"latitude", "longitude", "altitude", "speedKnots", "course", "pdop",
                             "hdop", "vdop", "fixAgeSeconds"}) {
        EXPECT_NE(json.find("\"" + std::string(name) + "\":null"), std::string::npos)
            << name << "\n"
            << json;
    }
    EXPECT_NE(json.find("\"current\":false"), std::string::npos) << json;

    StartSim();
    ASSERT_TRUE(Within(streamPatience, [&] {
        Tavro({"status", "--json"}, json);
        return json.find("\"current\":true") != std::string::npos;
    })) << json;
    EXPECT_LT(JsonNumber(json, "fixAgeSeconds"), 2.0) << json;

    EXPECT_EQ(sim_->Stop(), 0);
    EXPECT_TRUE(Within(5s, [&] {
        Tavro({"status", "--json"}, json);
        return json.find("\"current\":false") != std::string::npos;
    })) << json;
    const double age = JsonNumber(json, "fixAgeSeconds");
    EXPECT_LT(age, 1e9) << json;
    EXPECT_TRUE(Within(5s,
                       [&] {
                           Tavro({"status", "--json"}, json);
                           return JsonNumber(json, "fixAgeSeconds") > age;
                       }))
        << "the age grows: " << json;
    EXPECT_NE(json.find("\"latitude\":"), std::string::npos);
    EXPECT_EQ(json.find("\"latitude\":null"), std::string::npos) << "the last fix stays";
    std::string text;
    Tavro({"status"}, text);
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(\nFreshness: +last fix \d+ s ago\n)")))
        << text;
}

// The programs' command lines: --version, --help per verb on standard output, usage errors
// (2) and failures (1) on standard error, in words without Windows message numbers.
TEST_F(PosixHubEndToEnd, ProgramsFollowTheCommandLineConventions) {
    const std::string tavro = TAVRO_PATH;
    const std::string feltro = FELTRO_PATH;
    const std::string sim = GPS_SIM_PATH;
    struct Case {
        std::vector<std::string> command;
        int code;
        const char* output; // begins standard output
        const char* error;  // found in standard error
    };
    const Case cases[] = {
        {{tavro, "--version"}, 0, "tavro 3.", ""},
        {{feltro, "--version"}, 0, "feltro 3.", ""},
        {{sim, "--version"}, 0, "gps-sim 3.", ""},
        {{tavro, "status", "--help"}, 0, "usage: tavro status", ""},
        {{tavro, "help", "config"}, 0, "usage: tavro config", ""},
        {{tavro, "link", "COM1", "--help"}, 0, "usage: tavro link", ""},
        {{feltro, "baud", "--help"}, 0, "usage: feltro baud", ""},
        {{sim, "--help"}, 0, "Usage: gps-sim", ""},
        {{tavro}, 2, "", "usage: tavro"},
        {{tavro, "config", "set", "Port"}, 2, "", "usage: tavro config"},
        {{tavro, "config", "set", "Baud", "1234"},
         2,
         "",
         "\"Baud\" is the input port's line speed, one of 4800"},
        {{tavro, "send", "toggle"}, 2, "", "usage: tavro send"},
        {{tavro, "send", "baud", "1"}, 2, "", "baud takes a line speed: 4800,"},
        {{tavro, "run", "--hide"}, 2, "", "usage: tavro run"},
        {{tavro, "status", "--verbose"}, 2, "", "usage: tavro status"},
        {{feltro, "baud", "1234"}, 2, "", "usage: feltro baud"},
        {{sim, "--colour"}, 2, "", "unknown option"},
        {{tavro, "send", "hold"}, 1, "", "Hub not running"},
        {{tavro, "link", "COM3", "/dev/null"}, 1, "", "not a terminal"},
        {{feltro, "query"}, 1, "", "hub not running"},
        {{sim, "--com", "9", "--replay", root_ + "/missing.nmea"}, 1, "", "gps-sim: "},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& word : c.command) {
            line += word.substr(word.rfind('/') + 1) + " ";
        }
        SCOPED_TRACE(line);
        const ProgramRun run = RunProgramApart(c.command, environment_, root_ + "/run.out");
        EXPECT_EQ(run.code, c.code) << run.output << run.errors;
        EXPECT_EQ(run.output.rfind(c.output, 0), 0u) << run.output;
        EXPECT_NE(run.errors.find(c.error), std::string::npos) << run.errors;
        EXPECT_EQ(c.code == 0, run.errors.empty()) << run.errors;
        EXPECT_FALSE(std::regex_search(run.errors, std::regex("error [0-9]|message [0-9]")))
            << run.errors;
    }

    // --watch shows the state again and again until interrupted.
    ChildProcess watch({tavro, "status", "--watch", "--json"}, environment_, root_ + "/watch");
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(watch.Stop(SIGINT), 4) << "the last state's code: hub not running";
    EXPECT_GE(Count(FileText(root_ + "/watch"), "{\"hubRunning\":false,"), 2u)
        << FileText(root_ + "/watch");
}

// gpsd, the Debian package, as a client of a virtual port.
std::string GpsdPath() {
    for (const char* path : {"/usr/sbin/gpsd", "/usr/bin/gpsd", "/usr/local/sbin/gpsd"}) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return "";
}

// Watches gpsd's JSON reports until one has a 3D fix; its text, or "" after `timeout`.
std::string GpsdFix(uint16_t port, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    int fd = -1;
    while (fd < 0 && std::chrono::steady_clock::now() < end) {
        fd = ConnectLoopback(port);
        if (fd < 0) {
            std::this_thread::sleep_for(100ms);
        }
    }
    if (fd < 0) {
        return "";
    }
    const std::string watch = "?WATCH={\"enable\":true,\"json\":true};\n";
    std::string text;
    if (send(fd, watch.data(), watch.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(watch.size())) {
        char buffer[4096];
        while (std::chrono::steady_clock::now() < end) {
            pollfd entry{fd, POLLIN, 0};
            if (poll(&entry, 1, 200) <= 0) {
                continue;
            }
            const ssize_t count = recv(fd, buffer, sizeof buffer, 0);
            if (count <= 0) {
                break;
            }
            text.append(buffer, static_cast<size_t>(count));
            size_t line;
            while ((line = text.find('\n')) != std::string::npos) {
                const std::string report = text.substr(0, line);
                text.erase(0, line + 1);
                if (report.find("\"class\":\"TPV\"") != std::string::npos &&
                    report.find("\"mode\":3") != std::string::npos &&
                    report.find("\"lat\":") != std::string::npos) {
                    close(fd);
                    return report;
                }
            }
        }
    }
    close(fd);
    return "";
}

TEST_F(PosixHubEndToEnd, GpsdOnAVirtualPortReportsTheSimulatedPosition) {
    const std::string gpsd = GpsdPath();
    if (gpsd.empty()) {
        GTEST_SKIP() << "gpsd is not installed (Debian packages gpsd and gpsd-clients)";
    }
    Set("Port0", "5");
    Set("Port1", "6");
    StartSim();
    StartHub({5, 6});
    ASSERT_TRUE(StreamArrives()) << Status();
    const uint16_t port = FreePort(SOCK_STREAM);
    ASSERT_NE(port, 0);
    // In the foreground, on a private port and control socket, polling at once, never writing
    // to the device.
    ChildProcess daemon({gpsd, "-N", "-n", "-b", "-F", root_ + "/gpsd.sock", "-P",
                         root_ + "/gpsd.pid", "-S", std::to_string(port), Link(5)},
                        environment_, root_ + "/gpsd.log");
    // Another client beside it on the second port.
    StartClient(6, "beside");
    const std::string fix = GpsdFix(port, 30s);
    daemon.Stop();
    ASSERT_FALSE(fix.empty()) << FileText(root_ + "/gpsd.log");
    std::string status;
    ASSERT_EQ(Tavro({"status", "--json"}, status), 0);
    // The simulated drive moves a few metres a second: the two readings are close in time.
    EXPECT_NEAR(JsonNumber(fix, "lat"), JsonNumber(status, "latitude"), 0.01) << fix;
    EXPECT_NEAR(JsonNumber(fix, "lon"), JsonNumber(status, "longitude"), 0.01) << fix;
    EXPECT_TRUE(Receives("beside", "$GPGGA,"));
}

} // namespace
} // namespace tavro::testing
