// The POSIX hub under contention and faults: simultaneous starts, a removed COM directory, a
// receiver link whose terminal number is somebody else's now, settings files it cannot use.
#include "tests/integration/PosixHubFixture.h"
#include "tests/platform/TestPty.h"

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

TEST_F(PosixHubService, AReceiverLinkNeverLeadsToSomebodyElsesTerminal) {
    // gps-sim's link stops resolving the moment it is killed.
    StartSim();
    ASSERT_TRUE(std::filesystem::exists(Link(1)));
    sim_->Stop(SIGKILL);
    EXPECT_TRUE(std::filesystem::is_symlink(Link(1)));
    EXPECT_FALSE(std::filesystem::exists(Link(1)));
    std::filesystem::remove(Link(1));

    // A plain link to a terminal made after it (its number handed out again) is not followed:
    // the hub tries COM1 every 7.5 s and never opens that terminal.
    Set("Port0", "5");
    StartHub({5});
    TestPty other;
    ASSERT_TRUE(other.Valid());
    ASSERT_EQ(symlink(other.SlavePath().c_str(), Link(1).c_str()), 0);
    std::this_thread::sleep_for(20ms);
    struct stat info {};
    ASSERT_EQ(stat(other.SlavePath().c_str(), &info), 0);
    ASSERT_EQ(chmod(other.SlavePath().c_str(), info.st_mode & 07777), 0); // "made" now
    const int session = open(other.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(session, 0);
    termios modes{};
    ASSERT_EQ(tcgetattr(session, &modes), 0);
    modes.c_lflag |= ECHO | ICANON;
    ASSERT_EQ(tcsetattr(session, TCSANOW, &modes), 0);
    ASSERT_TRUE(other.Send("typed ahead\n"));
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, other.SlavePath().c_str(), IN_OPEN), 0);

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

} // namespace
} // namespace tavro::testing
