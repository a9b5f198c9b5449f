// The POSIX hub under a service manager: readiness and the descriptor store (systemd's notify
// socket, kept by a stand-in), logind's sleep signal on a private bus, journald's priorities.
// A build without systemd (TAVRO_SYSTEMD=OFF) has none of them: these tests skip there, and
// the last one checks that such a hub says so.
#include "tests/integration/PosixHubFixture.h"

#include <cstring>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#if TAVRO_SYSTEMD
#include <systemd/sd-bus.h>
#endif

namespace tavro::testing {
namespace {

// The service manager's side of the notify socket, as systemd keeps it: the state the hub
// reports, and its descriptor store by name.
class FakeServiceManager {
public:
    explicit FakeServiceManager(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    ~FakeServiceManager() {
        close(fd_);
        for (const auto& [name, fd] : store) {
            close(fd);
        }
    }
    const std::string& Path() const { return path_; }

    // Takes messages until one holds `state`, at most `timeout`.
    bool WaitFor(const std::string& state, std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            pollfd entry{fd_, POLLIN, 0};
            if (poll(&entry, 1, 50) == 1 && Take().find(state) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    std::map<std::string, int> store; // FDNAME -> descriptor
    std::string received;

private:
    std::string Take() {
        char text[512] = {};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 8)];
        iovec part{text, sizeof text - 1};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t length = recvmsg(fd_, &message, MSG_CMSG_CLOEXEC);
        if (length <= 0) {
            return "";
        }
        const std::string state(text, static_cast<size_t>(length));
        received += state + "\n";
        const size_t name = state.find("FDNAME=");
        const std::string fdName = name == std::string::npos
                                       ? ""
                                       : state.substr(name + 7, state.find('\n', name) - name - 7);
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
                int fd = -1;
                std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
                // systemd watches what it stores unless told FDPOLL=0, and closes a
                // descriptor once it reports POLLHUP, as a terminal nobody opened does.
                pollfd watched{fd, 0, 0};
                const bool hungUp = state.find("FDPOLL=0") == std::string::npos &&
                                    poll(&watched, 1, 0) == 1 && (watched.revents & POLLHUP) != 0;
                if (state.find("FDSTORE=1") != std::string::npos && store.count(fdName) == 0 &&
                    !hungUp) {
                    store[fdName] = fd;
                } else {
                    close(fd); // the same terminal again, as systemd keeps one
                }
            }
        }
        if (state.find("FDSTOREREMOVE=1") != std::string::npos && store.count(fdName) != 0) {
            close(store[fdName]);
            store.erase(fdName);
        }
        return state;
    }

    std::string path_;
    int fd_ = -1;
};

#if TAVRO_SYSTEMD
// logind on a private bus, as far as the hub sees it: it owns logind's name and sends
// PrepareForSleep.
class LoginManagerStandIn {
public:
    explicit LoginManagerStandIn(const std::string& address) {
        if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address.c_str()) < 0 ||
            sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0 ||
            sd_bus_request_name(bus_, "org.freedesktop.login1", 0) < 0) {
            bus_ = sd_bus_flush_close_unref(bus_);
        }
    }
    ~LoginManagerStandIn() { sd_bus_flush_close_unref(bus_); }
    bool Ready() const { return bus_ != nullptr; }

    bool PrepareForSleep(bool sleeping) {
        const int sent =
            sd_bus_emit_signal(bus_, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                               "PrepareForSleep", "b", sleeping ? 1 : 0);
        return sent >= 0 && sd_bus_flush(bus_) >= 0;
    }

    // Connections that asked the bus for PrepareForSleep: the bus's own count of matches is
    // not public, so the other connections are counted (the hub is the only other client).
    int Listeners() {
        char** names = nullptr;
        int count = 0;
        if (sd_bus_list_names(bus_, &names, nullptr) >= 0 && names != nullptr) {
            for (char** name = names; *name != nullptr; ++name) {
                count += (*name)[0] == ':' ? 1 : 0;
                free(*name);
            }
            free(names);
        }
        return count - 1; // not itself
    }

private:
    sd_bus* bus_ = nullptr;
};
#endif

using PosixServiceManager = PosixHubEndToEnd;

constexpr char withoutSystemd[] = "built without systemd (TAVRO_SYSTEMD=OFF): the service "
                                  "manager's features are not available in this build";

TEST_F(PosixServiceManager, ARestartThroughTheDescriptorStoreKeepsTheClientsTerminal) {
    if (!TAVRO_SYSTEMD) {
        GTEST_SKIP() << withoutSystemd;
    }
    FakeServiceManager manager(root_ + "/notify");
    environment_.push_back({"NOTIFY_SOCKET", manager.Path()});
    Set("Port0", "5");
    StartSim();
    StartHub({5});
    ASSERT_TRUE(manager.WaitFor("READY=1", 10s)) << manager.received;
    ASSERT_EQ(manager.store.count("COM5"), 1u) << manager.received;
    ASSERT_TRUE(StreamArrives()) << Status();
    StartClient(5, "client");
    ASSERT_TRUE(Receives("client", "$GPRMC,"));
    const std::string terminal = std::filesystem::canonical(Link(5)).string();

    EXPECT_EQ(hub_->Stop(SIGTERM), 0);
    EXPECT_TRUE(manager.WaitFor("STOPPING=1", 2s)) << manager.received;
    Environment restart = environment_;
    restart.push_back({"LISTEN_FDNAMES", "COM5"});
    hub_ = std::make_unique<ChildProcess>(std::vector<std::string>{TAVRO_PATH, "run"}, restart,
                                          root_ + "/hub.log", false, "",
                                          std::vector<int>{manager.store["COM5"]});
    ASSERT_TRUE(manager.WaitFor("READY=1", 10s)) << manager.received;
    EXPECT_EQ(std::filesystem::canonical(Link(5)).string(), terminal);
    const size_t before = Count(Received("client"), "$GPRMC,");
    EXPECT_TRUE(Receives("client", "$GPRMC,", before + 2)) << "the same client goes on";
    EXPECT_EQ(manager.store.count("COM5"), 1u);
}

// logind's PrepareForSleep, sent by a stand-in on a private bus: true closes the input port
// and keeps it closed, false opens it again.
TEST_F(PosixServiceManager, SleepAndWakeFromTheBusCloseAndReopenTheInputPort) {
#if !TAVRO_SYSTEMD
    GTEST_SKIP() << withoutSystemd;
#else
    const char* daemon = "/usr/bin/dbus-daemon";
    if (access(daemon, X_OK) != 0) {
        GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus-daemon)";
    }
    const std::string address = "unix:path=" + root_ + "/bus";
    ChildProcess bus({daemon, "--session", "--nofork", "--address=" + address}, environment_,
                     root_ + "/bus.log");
    ASSERT_TRUE(Within(10s, [&] { return std::filesystem::exists(root_ + "/bus"); }));
    LoginManagerStandIn logind(address);
    ASSERT_TRUE(logind.Ready()) << FileText(root_ + "/bus.log");

    environment_.push_back({"DBUS_SYSTEM_BUS_ADDRESS", address});
    Set("Port0", "5");
    StartSim();
    StartHub({5});
    ASSERT_TRUE(StreamArrives()) << Status();
    ASSERT_TRUE(Within(5s, [&] { return logind.Listeners() > 0; })) << "the hub listens";
    std::this_thread::sleep_for(300ms); // its match is made right after it connects

    ASSERT_TRUE(logind.PrepareForSleep(true));
    EXPECT_TRUE(Within(3s, [&] { return Status().rfind("Port Closed", 0) == 0; })) << Status();
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(Status().rfind("Port Closed", 0), 0u) << "closed while asleep";
    ASSERT_TRUE(logind.PrepareForSleep(false));
    EXPECT_TRUE(StreamArrives()) << Status();
#endif
}

TEST_F(PosixServiceManager, UnderJournaldTheLinesCarryPriorities) {
    if (!TAVRO_SYSTEMD) {
        GTEST_SKIP() << withoutSystemd;
    }
    // Under journald (JOURNAL_STREAM names standard error) the lines carry priorities instead
    // of the time.
    const std::string journal = root_ + "/journal.log";
    std::fclose(std::fopen(journal.c_str(), "w"));
    struct stat file {};
    ASSERT_EQ(stat(journal.c_str(), &file), 0);
    Environment withJournal = environment_;
    withJournal.emplace_back("JOURNAL_STREAM",
                             std::to_string(file.st_dev) + ":" + std::to_string(file.st_ino));
    ChildProcess hub({TAVRO_PATH, "run"}, withJournal, journal);
    EXPECT_TRUE(Within(10s, [&] { return Count(FileText(journal), "\n") >= 2; }));
    EXPECT_EQ(hub.Stop(), 0);
    const std::string lines = FileText(journal);
    EXPECT_EQ(lines.rfind("<5>hub 3.", 0), 0u) << lines;
    EXPECT_NE(lines.find("\n<3>no virtual ports"), std::string::npos) << lines;
}

TEST_F(PosixServiceManager, WithoutSystemdTheHubSaysItsServiceFeaturesAreNotAvailable) {
    if (TAVRO_SYSTEMD) {
        GTEST_SKIP() << "built with systemd: the tests above run its features";
    }
    // Started as a service would be: a notify socket and journald on standard error.
    FakeServiceManager manager(root_ + "/notify");
    environment_.push_back({"NOTIFY_SOCKET", manager.Path()});
    const std::string journal = root_ + "/journal.log";
    std::fclose(std::fopen(journal.c_str(), "w"));
    struct stat file {};
    ASSERT_EQ(stat(journal.c_str(), &file), 0);
    environment_.emplace_back("JOURNAL_STREAM",
                              std::to_string(file.st_dev) + ":" + std::to_string(file.st_ino));
    Set("Port0", "5");
    hub_ = std::make_unique<ChildProcess>(std::vector<std::string>{TAVRO_PATH, "run"}, environment_,
                                          journal);
    EXPECT_TRUE(Within(10s, [&] {
        return FileText(journal).find("not available") != std::string::npos;
    })) << FileText(journal);
    EXPECT_FALSE(manager.WaitFor("READY=1", 1s)) << manager.received;
    EXPECT_EQ(hub_->Stop(SIGTERM), 0);
    const std::string lines = FileText(journal);
    EXPECT_NE(lines.find("journal priorities: not available here (built without systemd)"),
              std::string::npos)
        << lines;
    EXPECT_EQ(lines.find("<5>"), std::string::npos) << "no priorities, the time instead: " << lines;

    std::string help;
    ASSERT_EQ(Tavro({"run", "--help"}, help), 0);
    EXPECT_NE(help.find("no systemd support"), std::string::npos) << help;
}

} // namespace
} // namespace tavro::testing
