// The POSIX hub under contention and faults: simultaneous starts, a removed COM directory, a
// receiver link whose terminal number is somebody else's now, settings files it cannot use, an
// event loop that cannot be set up.
#include "tests/integration/PosixHubFixture.h"
#include "tests/platform/TestPty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

namespace tavro::testing {
namespace {

class PosixHubService : public PosixHubEndToEnd {
protected:
    std::unique_ptr<ChildProcess> StartRun(const std::string& log) {
        return std::make_unique<ChildProcess>(std::vector<std::string>{TAVRO_PATH, "run"},
                                              environment_, root_ + "/" + log);
    }
};

TEST_F(PosixHubService, OfTwoStartsAtOnceOneRunsWithAllItsPortsAndTheOtherHandsOver) {
    Set("Port0", "5");
    Set("Port1", "6");
    for (int trial = 0; trial < 3; ++trial) {
        auto first = StartRun("first.log");
        auto second = StartRun("second.log");
        // The one that lost hands over and ends with 0; the winner runs on.
        ASSERT_TRUE(Within(15s, [&] { return !first->Running() || !second->Running(); }));
        auto& loser = first->Running() ? second : first;
        auto& winner = first->Running() ? first : second;
        EXPECT_EQ(loser->Wait(), 0) << "trial " << trial;
        ASSERT_TRUE(Within(
            10s,
            [&] { return std::filesystem::exists(Link(5)) && std::filesystem::exists(Link(6)); }))
            << "trial " << trial << "\n"
            << FileText(root_ + "/first.log") << FileText(root_ + "/second.log");
        EXPECT_TRUE(winner->Running());
        EXPECT_EQ(winner->Stop(SIGTERM), 0);
    }

    // Another COM directory with the same status block: it is the same hub's block, so the
    // second start hands over to the first, which it finds through the block's lock.
    StartHub({5});
    Environment elsewhere = environment_;
    elsewhere.push_back({"TAVRO_DEVDIR", root_ + "/elsewhere"});
    std::string output;
    EXPECT_EQ(RunProgram({TAVRO_PATH, "run"}, elsewhere, output, root_ + "/tool.out"), 0);
    EXPECT_NE(output.find(root_ + "/dev"), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(root_ + "/elsewhere/TavroMsgWnd"));
    EXPECT_TRUE(hub_->Running());
    EXPECT_NE(Status().rfind("Hub not running", 0), 0u);
}

TEST_F(PosixHubService, AStoppedHubIsReportedNotRespondingAndNotHandedOverTo) {
    Set("Port0", "5");
    StartHub({5});
    const std::string pid = std::to_string(hub_->Pid());
    ASSERT_EQ(kill(hub_->Pid(), SIGSTOP), 0);
    std::string output;
    EXPECT_EQ(Tavro({"status"}, output), 6);
    EXPECT_EQ(output.rfind("hub not responding, pid " + pid + "\n", 0), 0u) << output;
    EXPECT_EQ(Tavro({"status", "--json"}, output), 6);
    EXPECT_NE(output.find("\"responding\":false"), std::string::npos) << output;
    EXPECT_NE(output.find("\"pid\":" + pid), std::string::npos) << output;
    EXPECT_EQ(Tavro({"run"}, output), 1) << "handed over to a hub that does not answer";
    EXPECT_NE(output.find("hub not responding, pid " + pid), std::string::npos) << output;
    EXPECT_NE(output.find("kill -CONT " + pid), std::string::npos) << output;
    EXPECT_EQ(Tavro({"send", "hold"}, output), 1);
    EXPECT_NE(output.find("hub not responding, pid " + pid), std::string::npos) << output;
    ASSERT_EQ(kill(hub_->Pid(), SIGCONT), 0);
    EXPECT_TRUE(Within(5s, [&] { return Tavro({"status", "--json"}, output) != 6; }));
    EXPECT_NE(output.find("\"responding\":true"), std::string::npos) << output;
}

TEST_F(PosixHubService, ARemovedComDirectoryComesBackWithItsLinksAndSocket) {
    Set("Port0", "5");
    StartHub({5});
    StartClient(5, "client");
    std::filesystem::remove_all(root_ + "/dev");
    EXPECT_TRUE(Within(5s, [&] {
        return std::filesystem::exists(Link(5)) &&
               std::filesystem::exists(root_ + "/dev/TavroMsgWnd");
    }));
    std::string output;
    EXPECT_NE(Tavro({"status"}, output), 4) << output;
    EXPECT_EQ(Tavro({"send", "release"}, output), 0) << output;
    // A second start still finds the first.
    EXPECT_EQ(Tavro({"run"}, output), 0) << output;
    EXPECT_NE(output.find("already runs"), std::string::npos) << output;
    EXPECT_TRUE(hub_->Running());
}

// A cleaner of /dev/shm takes the status block and its lock: both come back, so programs find
// the block and a hub started for another COM directory still finds this one on it.
TEST_F(PosixHubService, AStatusBlockRemovedFromDevShmComesBackWithItsLock) {
    StartHub({});
    std::string shm;
    for (const auto& [name, value] : environment_) {
        shm = name == "TAVRO_SHM" ? "/dev/shm" + value : shm;
    }
    ASSERT_TRUE(std::filesystem::exists(shm) && std::filesystem::exists(shm + ".hub")) << shm;
    std::filesystem::remove(shm);
    std::filesystem::remove(shm + ".hub");
    EXPECT_TRUE(Within(
        5s, [&] { return std::filesystem::exists(shm) && std::filesystem::exists(shm + ".hub"); }));
    Environment elsewhere = environment_;
    for (auto& [name, value] : elsewhere) {
        value = name == "TAVRO_DEVDIR" ? root_ + "/other" : value;
    }
    const ProgramRun second = RunProgramApart({TAVRO_PATH, "run"}, elsewhere, root_ + "/second");
    EXPECT_EQ(second.code, 0) << second.errors;
    EXPECT_NE(second.errors.find("already runs for " + root_ + "/dev"), std::string::npos)
        << second.errors;
    EXPECT_TRUE(hub_->Running());
}

TEST_F(PosixHubService, AReceiverLinkNeverLeadsToSomebodyElsesTerminal) {
    // gps-sim's link stops resolving the moment it is killed.
    StartSim();
    ASSERT_TRUE(std::filesystem::exists(Link(1)));
    sim_->Stop(SIGKILL);
    EXPECT_TRUE(std::filesystem::is_symlink(Link(1)));
    EXPECT_FALSE(std::filesystem::exists(Link(1)));
    std::filesystem::remove(Link(1));

    // A plain link to a terminal made after it (its number handed out again) is not followed:
    // the hub tries COM1 when the link appears and every 7.5 s, and never opens that terminal.
    Set("Port0", "5");
    StartHub({5});
    TestPty other;
    ASSERT_TRUE(other.Valid());
    // The link is made first (aside, then moved in: a move keeps its time), the terminal
    // "made" after it.
    const std::string aside = root_ + "/COM1.earlier";
    ASSERT_EQ(symlink(other.SlavePath().c_str(), aside.c_str()), 0);
    std::this_thread::sleep_for(20ms);
    struct stat info {};
    ASSERT_EQ(stat(other.SlavePath().c_str(), &info), 0);
    ASSERT_EQ(chmod(other.SlavePath().c_str(), info.st_mode & 07777), 0);
    const int session = open(other.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(session, 0);
    termios modes{};
    ASSERT_EQ(tcgetattr(session, &modes), 0);
    modes.c_lflag |= ECHO | ICANON;
    ASSERT_EQ(tcsetattr(session, TCSANOW, &modes), 0);
    ASSERT_TRUE(other.Send("typed ahead\n"));
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, other.SlavePath().c_str(), IN_OPEN), 0);
    ASSERT_EQ(rename(aside.c_str(), Link(1).c_str()), 0);

    std::this_thread::sleep_for(9s); // the first attempt and one re-open
    char events[256];
    EXPECT_LT(read(watch, events, sizeof events), 0) << "nobody opened the terminal";
    close(watch);
    termios now{};
    ASSERT_EQ(tcgetattr(session, &now), 0);
    EXPECT_EQ(now.c_lflag, modes.c_lflag);
    int pending = 0;
    ASSERT_EQ(ioctl(session, FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 12);
    close(session);
    EXPECT_EQ(Status(), "Port Doesn't Exist\n") << "the link is refused, the terminal never opened";
}

// The hub's children (its guardian), from the kernel's list.
std::vector<pid_t> Children(pid_t pid) {
    std::ifstream list("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                       "/children");
    std::vector<pid_t> children;
    for (pid_t child = 0; list >> child;) {
        children.push_back(child);
    }
    return children;
}

TEST_F(PosixHubService, AfterKillNineTheGuardianRemovesTheLinksAndSocketAtOnce) {
    Set("Port0", "5");
    StartHub({5});
    const std::vector<pid_t> first = Children(hub_->Pid());
    ASSERT_EQ(first.size(), 1U) << "the guardian";
    // A guardian killed by mistake is replaced.
    kill(first[0], SIGKILL);
    EXPECT_TRUE(Within(5s, [&] {
        const std::vector<pid_t> now = Children(hub_->Pid());
        return now.size() == 1 && now[0] != first[0];
    }));
    EXPECT_EQ(hub_->Stop(SIGKILL), 128 + SIGKILL);
    EXPECT_TRUE(Within(2s, [&] {
        return !std::filesystem::exists(std::filesystem::symlink_status(Link(5))) &&
               !std::filesystem::exists(root_ + "/dev/TavroMsgWnd");
    })) << "left until tavro clean";
}

TEST_F(PosixHubService, AfterKillNineAVirtualPortLeadsNowhereEvenWhenItsNumberIsReused) {
    Set("Port0", "5");
    StartHub({5});
    const std::string terminal = std::filesystem::canonical(Link(5)).string();
    // Without its guardian (stopped, then killed with the hub), the link is left for `tavro
    // clean`.
    const std::vector<pid_t> guardians = Children(hub_->Pid());
    for (const pid_t guardian : guardians) {
        kill(guardian, SIGSTOP);
    }
    EXPECT_EQ(hub_->Stop(SIGKILL), 128 + SIGKILL);
    // Take terminals until the system hands out the hub's number again (other tests may be
    // quicker to it; the link must lead nowhere either way).
    std::vector<std::unique_ptr<TestPty>> taken;
    bool reused = false;
    for (int i = 0; i < 64 && !reused; ++i) {
        taken.push_back(std::make_unique<TestPty>());
        reused = taken.back()->SlavePath() == terminal;
    }
    const int fd = open(Link(5).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_LT(fd, 0) << (reused ? "led to the terminal that took the number" : "opened");
    EXPECT_EQ(errno, ENOENT);
    if (fd >= 0) {
        close(fd);
    }
    std::string output;
    EXPECT_EQ(Tavro({"clean"}, output), 0) << output;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Link(5))));
    EXPECT_FALSE(std::filesystem::exists(root_ + "/dev/TavroMsgWnd"));
    for (const pid_t guardian : guardians) {
        kill(guardian, SIGKILL);
    }
}

TEST_F(PosixHubService, NohupKeepsTheHubThroughAHangUpAndAServiceReloadsOnIt) {
    Set("Port0", "5");
    ChildProcess ignoring({"/usr/bin/nohup", TAVRO_PATH, "run"}, environment_,
                          root_ + "/nohup.log");
    ASSERT_TRUE(Within(10s, [&] { return std::filesystem::exists(Link(5)); }));
    kill(ignoring.Pid(), SIGHUP);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(ignoring.Running()) << FileText(root_ + "/nohup.log");
    EXPECT_EQ(ignoring.Stop(SIGTERM), 0);

    // Started as the service's command line: SIGHUP reads the settings again.
    environment_.push_back({"INVOCATION_ID", "0123456789abcdef"});
    StartHub({5});
    Environment elsewhere = environment_;
    elsewhere.push_back({"TAVRO_DEVDIR", root_ + "/elsewhere"}); // stored, not sent to the hub
    std::string output;
    ASSERT_EQ(RunProgram({TAVRO_PATH, "config", "set", "Port1", "6"}, elsewhere, output,
                         root_ + "/tool.out"),
              0)
        << output;
    EXPECT_FALSE(std::filesystem::exists(Link(6)));
    kill(hub_->Pid(), SIGHUP);
    EXPECT_TRUE(Within(5s, [&] { return std::filesystem::exists(Link(6)); }));
    EXPECT_TRUE(hub_->Running());
}

TEST_F(PosixHubService, SettingsApplyAtOnceAndASpeedChangeByCommandIsStored) {
    Set("Port0", "5");
    StartSim();
    StartHub({5});
    ASSERT_TRUE(StreamArrives()) << Status();
    StartClient(5, "client");
    ASSERT_TRUE(Receives("client", "$GPRMC,"));
    const std::string terminal = std::filesystem::canonical(Link(5)).string();

    // Another virtual port appears at once; COM5's terminal and client are not touched.
    std::string output;
    ASSERT_EQ(Tavro({"config", "set", "Port1", "6"}, output), 0) << output;
    EXPECT_TRUE(std::filesystem::exists(Link(6))) << "there when config set returns";
    EXPECT_EQ(std::filesystem::canonical(Link(5)).string(), terminal);

    // The receiver told to go to 9600, and the setting changed: the hub follows at once.
    ASSERT_EQ(Tavro({"send", "write", Sentence("PMTK251,9600").substr(0, 16)}, output), 0)
        << output;
    ASSERT_EQ(Tavro({"config", "set", "Baud", "9600"}, output), 0) << output;
    std::this_thread::sleep_for(500ms);
    size_t before = Count(Received("client"), "$GPRMC,");
    EXPECT_TRUE(Receives("client", "$GPRMC,", before + 2)) << "the client goes on receiving";

    // Back to 4800 by command, as the setup tool does it: the new speed is stored.
    ASSERT_EQ(Tavro({"send", "write", Sentence("PMTK251,4800").substr(0, 16)}, output), 0)
        << output;
    ASSERT_EQ(Tavro({"send", "baud", "4800"}, output), 0) << output;
    EXPECT_TRUE(Within(15s, [&] {
        Tavro({"config", "get", "Baud"}, output);
        return output == "4800\n";
    })) << output;
    before = Count(Received("client"), "$GPRMC,");
    EXPECT_TRUE(Receives("client", "$GPRMC,", before + 2));
    EXPECT_EQ(std::filesystem::canonical(Link(5)).string(), terminal);

    // A speed "Baud" cannot hold (here 1 baud, as any client of the socket may ask) is
    // refused, not taken and stored.
    EXPECT_EQ(Tavro({"send", "raw", "4", "01000000"}, output), 1) << output;
    before = Count(Received("client"), "$GPRMC,");
    EXPECT_TRUE(Receives("client", "$GPRMC,", before + 2));
    EXPECT_EQ(Tavro({"config", "get", "Baud"}, output), 0);
    EXPECT_EQ(output, "4800\n");
}

// The receiver's link leads through a folder the hub watches (as /dev/serial/by-id): taking
// the name away closes the input port at once, putting it back opens it at once, well before
// the re-open 7.5 s later would.
TEST_F(PosixHubService, AReceiverThatGoesAndComesBackIsFollowedAtOnce) {
    sim_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{GPS_SIM_PATH, "--com", "9", "--seed", "7"}, environment_,
        root_ + "/sim.log");
    ASSERT_TRUE(Within(10s, [&] { return std::filesystem::exists(Link(9)); }));
    const std::string byId = root_ + "/by-id";
    std::filesystem::create_directories(byId);
    const std::string receiver = byId + "/usb-receiver";
    std::filesystem::create_symlink(std::filesystem::canonical(Link(9)), receiver);
    std::filesystem::create_symlink(receiver, Link(1));
    Set("Port0", "5");
    StartHub({5});
    ASSERT_TRUE(StreamArrives()) << Status();

    std::filesystem::remove(receiver);
    EXPECT_TRUE(Within(3s, [&] { return Status().rfind("Port Closed", 0) == 0; })) << Status();
    std::filesystem::create_symlink(std::filesystem::canonical(Link(9)), receiver);
    EXPECT_TRUE(Within(3s, [&] { return Status().rfind("Port Closed", 0) != 0; })) << Status();
    EXPECT_TRUE(StreamArrives()) << Status();
}

TEST_F(PosixHubService, ThePortTheSettingsNameOpensAtStartWithoutTheStartWait) {
    StartSim();
    Set("Port0", "5");
    StartHub({5});
    // The start's wait was 40 ticks (2 s) from the timer, which starts after the command
    // socket is published; a restart through the service manager left programs without data
    // for as long.
    std::string output;
    EXPECT_TRUE(Within(1500ms, [&] { return Tavro({"status"}, output) == 0; })) << output;
}

TEST_F(PosixHubService, SettingsFilesThatCannotBeUsedSayWhy) {
    const std::string folder = root_ + "/config/tavro";
    const std::string file = folder + "/current-user.reg";
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* reason;
    };
    const Case cases[] = {
        {"a file where the folder belongs", [&] { std::ofstream(folder) << "x"; },
         "is not a folder"},
        {"a folder where the file belongs", [&] { std::filesystem::create_directories(file); },
         "is not a regular file"},
        {"a named pipe",
         [&] {
             std::filesystem::create_directories(folder);
             mkfifo(file.c_str(), 0600);
         },
         "is not a regular file"},
        {"a damaged line",
         [&] {
             std::filesystem::create_directories(folder);
             std::ofstream(file) << "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Brindle\\Tavro3]\n"
                                    "\"Port0\"=dword:zz\n";
         },
         "line 3"},
    };
    for (const Case& item : cases) {
        std::filesystem::remove_all(root_ + "/config");
        std::filesystem::create_directories(root_ + "/config");
        item.make();
        std::string output;
        EXPECT_EQ(Tavro({"config", "set", "Port0", "5"}, output), 5) << item.what << output;
        EXPECT_NE(output.find(item.reason), std::string::npos) << item.what << "\n" << output;
    }
    if (geteuid() != 0) {
        std::filesystem::remove_all(root_ + "/config");
        Set("Port0", "5");
        chmod(file.c_str(), 0);
        std::string output;
        EXPECT_EQ(Tavro({"config", "get", "Port0"}, output), 5) << output;
        EXPECT_NE(output.find("Permission denied"), std::string::npos) << output;
        chmod(file.c_str(), 0600);
    }

    // The hub names the file it could not read.
    std::filesystem::remove_all(root_ + "/config");
    std::filesystem::create_directories(file);
    auto hub = StartRun("run.log");
    ASSERT_TRUE(Within(
        10s, [&] { return FileText(root_ + "/run.log").find("virtual") != std::string::npos; }));
    hub->Stop(SIGTERM);
    const std::string log = FileText(root_ + "/run.log");
    EXPECT_NE(log.find(file + " is not a regular file"), std::string::npos) << log;
    EXPECT_NE(log.find("settings could not be read"), std::string::npos) << log;
}

TEST_F(PosixHubService, AnEventLoopThatCannotBeSetUpEndsTheHubNamingTheStep) {
    // The call fails inside the hub (tests/support/FailCall.c); without its signals the hub
    // could only be killed, without its tick or wait it would do nothing.
    struct Case {
        const char* call;
        const char* step;
        int error;
    };
    const Case cases[] = {
        {"signalfd", "signalfd", EMFILE},
        {"timerfd_create", "timerfd", ENODEV},
        {"timerfd_settime", "timerfd_settime", EINVAL},
        {"poll", "poll", ENOMEM},
    };
    // AddressSanitizer would refuse a library loaded before its own.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions =
        (sanitizer != nullptr ? std::string(sanitizer) + ":" : "") + "verify_asan_link_order=0";
    for (const Case& item : cases) {
        Environment failing = environment_;
        failing.insert(failing.end(), {{"LD_PRELOAD", FAIL_CALL_PATH},
                                       {"TAVRO_FAIL_CALL", item.call},
                                       {"ASAN_OPTIONS", asanOptions}});
        const std::string log = root_ + "/" + item.call + ".log";
        ChildProcess hub({TAVRO_PATH, "run"}, failing, log);
        EXPECT_EQ(hub.Wait(10s), 1) << item.call << " (-1: still running after 10 s)";
        const std::string line = std::string("the event loop failed (") + item.step + ": " +
                                 std::strerror(item.error) + "): stopping";
        EXPECT_NE(FileText(log).find(line), std::string::npos) << line << "\n" << FileText(log);
    }
}

} // namespace
} // namespace tavro::testing
