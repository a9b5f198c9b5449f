#include "tools/relay-bench/Bench.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace tavro::bench {
namespace {

using namespace std::chrono_literals;

bool MakeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

void Drain(int fd) {
    char buffer[4096];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

uint16_t FreeTcpPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

int ConnectTcp(uint16_t port, int receiveBuffer) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (receiveBuffer != 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

uint64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

std::string Sentence(const std::string& body) {
    uint8_t sum = 0;
    for (const char c : body) {
        sum ^= static_cast<uint8_t>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

bool Pty::Open() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        return false;
    }
    slave = name;
    slaveHeld = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return slaveHeld >= 0 && MakeRaw(master) && MakeRaw(slaveHeld);
}

void Pty::Close() {
    for (int* fd : {&master, &slaveHeld}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

bool Pty::WriteAll(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = write(master, bytes.data() + done, bytes.size() - done);
        if (count > 0) {
            done += static_cast<size_t>(count);
        } else if (count < 0 && errno == EAGAIN) {
            pollfd entry{master, POLLOUT, 0};
            poll(&entry, 1, 100);
        } else if (!(count < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

bool Child::Start(const std::vector<std::string>& arguments, const std::string& logPath) {
    pid_ = fork();
    if (pid_ == 0) {
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        const int none = open("/dev/null", O_RDONLY);
        dup2(none, STDIN_FILENO);
        for (int fd = 3; fd < 1024; ++fd) {
            close(fd);
        }
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid_ > 0;
}

void Child::Stop() {
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(100ms);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

int Child::Wait() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) {
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunToEnd(const std::vector<std::string>& arguments, const std::string& logPath) {
    Child child;
    return child.Start(arguments, logPath) ? child.Wait() : -1;
}

bool ReadProcessUse(pid_t pid, ProcessUse& use) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return false;
    }
    // Fields after the command name (which may hold blanks) start at the last ')'.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    uint64_t utime = 0;
    uint64_t stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) {
            utime = std::stoull(field);
        } else if (index == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    use.cpuTicks = utime + stime;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    while (std::getline(status, text)) {
        if (text.rfind("voluntary_ctxt_switches:", 0) == 0) {
            use.voluntarySwitches = std::stoull(text.substr(text.find(':') + 1));
        } else if (text.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
            use.involuntarySwitches = std::stoull(text.substr(text.find(':') + 1));
        }
    }
    return true;
}

bool ReadProcessSize(pid_t pid, ProcessSize& size) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::error_code error;
    size.descriptors = 0;
    for (std::filesystem::directory_iterator entry(proc + "/fd", error), end;
         !error && entry != end; entry.increment(error)) {
        ++size.descriptors;
    }
    std::ifstream status(proc + "/status");
    std::string text;
    while (std::getline(status, text)) {
        if (text.rfind("VmRSS:", 0) == 0) {
            size.residentKb = std::stoull(text.substr(6));
            return !error;
        }
    }
    return false;
}

Stage::~Stage() {
    for (const int fd : clients) {
        close(fd);
    }
    if (gpsdClient >= 0) {
        close(gpsdClient);
    }
    if (bare >= 0) {
        close(bare);
    }
    hub.Stop();
    gpsd.Stop();
    hubReceiver.Close();
    gpsdReceiver.Close();
    bareReceiver.Close();
    if (!root.empty() && std::getenv("BENCH_KEEP") == nullptr) {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
}

bool Stage::Prepare() {
    char pattern[] = "/tmp/relay-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return false;
    }
    root = pattern;
    setenv("TAVRO_DEVDIR", (root + "/dev").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("TAVRO_SHM", ("/TavroBench-" + std::to_string(getpid())).c_str(), 1);
    setenv("HOME", root.c_str(), 1);
    std::filesystem::create_directories(root + "/dev");
    signal(SIGPIPE, SIG_IGN);
    return hubReceiver.Open() && gpsdReceiver.Open() && bareReceiver.Open();
}

bool Stage::Set(const std::string& name, const std::string& value) {
    return RunToEnd({tavro_, "config", "set", name, value}, root + "/config.log") == 0;
}

std::string Stage::StatusJson(const std::string& file) {
    const std::string path = root + "/" + file;
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    if (RunToEnd({tavro_, "status", "--json"}, path) != 0) {
        return "";
    }
    std::ifstream json(path);
    return std::string(std::istreambuf_iterator<char>(json), std::istreambuf_iterator<char>());
}

bool Stage::WaitForRelay(const std::vector<int>& readers, const Pty& receiver, double seconds) {
    const uint64_t end = NowNs() + static_cast<uint64_t>(seconds * 1e9);
    std::vector<bool> heard(readers.size(), false);
    const std::string probe = Sentence("GPTXT,01,01,02,probe");
    while (NowNs() < end) {
        receiver.WriteAll(probe);
        std::this_thread::sleep_for(100ms);
        bool all = true;
        for (size_t i = 0; i < readers.size(); ++i) {
            char buffer[4096];
            const ssize_t count = read(readers[i], buffer, sizeof buffer);
            if (count > 0) {
                heard[i] = true;
            }
            all = all && heard[i];
        }
        if (all) {
            std::this_thread::sleep_for(300ms);
            for (const int fd : readers) {
                Drain(fd);
            }
            return true;
        }
    }
    return false;
}

bool Stage::StartHub(uint32_t clientCount, bool immediate, uint32_t baud) {
    const std::string link = root + "/dev/COM1";
    if (symlink(hubReceiver.slave.c_str(), link.c_str()) != 0) {
        return false;
    }
    if (!Set("Port", "1") || !Set("Baud", std::to_string(baud)) ||
        !Set("Immediate Relay", immediate ? "1" : "0")) {
        return false;
    }
    for (uint32_t i = 0; i < clientCount; ++i) {
        if (!Set("Port" + std::to_string(i), std::to_string(5 + i))) {
            return false;
        }
    }
    if (!hub.Start({tavro_, "run"}, root + "/hub.log")) {
        return false;
    }
    const uint64_t end = NowNs() + 10'000'000'000ull;
    for (uint32_t i = 0; i < clientCount; ++i) {
        const std::string port = root + "/dev/COM" + std::to_string(5 + i);
        int fd = -1;
        while (fd < 0 && NowNs() < end) {
            fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                std::this_thread::sleep_for(50ms);
            }
        }
        if (fd < 0) {
            return false;
        }
        clients.push_back(fd);
    }
    return WaitForRelay(clients, hubReceiver, 20.0);
}

bool Stage::StartGpsd(const std::string& gpsdPath) {
    const uint16_t port = FreeTcpPort();
    if (port == 0 ||
        !gpsd.Start({gpsdPath, "-N", "-n", "-b", "-F", root + "/gpsd.sock", "-P",
                     root + "/gpsd.pid", "-S", std::to_string(port), gpsdReceiver.slave},
                    root + "/gpsd.log")) {
        return false;
    }
    const uint64_t end = NowNs() + 10'000'000'000ull;
    while ((gpsdClient = ConnectTcp(port)) < 0 && NowNs() < end) {
        std::this_thread::sleep_for(100ms);
    }
    if (gpsdClient < 0) {
        return false;
    }
    const int on = 1;
    setsockopt(gpsdClient, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A few bytes into an empty socket buffer: sent whole although non-blocking.
    const std::string watch = "?WATCH={\"enable\":true,\"raw\":1}\n";
    if (send(gpsdClient, watch.data(), watch.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(watch.size())) {
        return false;
    }
    return WaitForRelay({gpsdClient}, gpsdReceiver, 20.0);
}

bool Stage::OpenBare() {
    bare = open(bareReceiver.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return bare >= 0 && WaitForRelay({bare}, bareReceiver, 5.0);
}

uint64_t Stage::CommandRoundTrip(uint32_t code) {
    const std::string path = root + "/dev/TavroMsgWnd";
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    const uint64_t start = NowNs();
    uint64_t took = 0;
    const uint8_t request[4] = {static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8),
                                static_cast<uint8_t>(code >> 16), static_cast<uint8_t>(code >> 24)};
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, request, sizeof request, MSG_NOSIGNAL) == sizeof request) {
        pollfd entry{fd, POLLIN, 0};
        uint8_t answer[16];
        if (poll(&entry, 1, 5000) == 1 && recv(fd, answer, sizeof answer, 0) >= 4) {
            took = NowNs() - start;
        }
    }
    close(fd);
    return took;
}

} // namespace tavro::bench
