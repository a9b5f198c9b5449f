// The stage of a relay measurement: pseudo-terminal receivers, the hub and gpsd as child
// processes in a private COM directory and settings folder, and the programs on their far
// sides (virtual-port clients, a gpsd raw client, a bare reader of a receiver's terminal).
#pragma once

#include <stdint.h>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tavro::bench {

// Monotonic time in nanoseconds.
uint64_t NowNs();

// "$<body>*hh\r\n".
std::string Sentence(const std::string& body);

// A pseudo-terminal: the bench writes what a receiver sends into the master; a program opens
// the slave. Both ends raw; the master non-blocking. The bench keeps a slave descriptor open so
// the master never sees a hang-up while the program re-opens.
struct Pty {
    int master = -1;
    int slaveHeld = -1;
    std::string slave;
    bool Open();
    void Close();
    // Writes everything, waiting while the terminal is full.
    bool WriteAll(const std::string& bytes) const;
};

class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { Stop(); }
    bool Start(const std::vector<std::string>& arguments, const std::string& logPath);
    // Waits for the end; the exit code (-1 for a signal).
    int Wait();
    void Stop();
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// Runs a program to its end; its exit code (-1 when it could not run).
int RunToEnd(const std::vector<std::string>& arguments, const std::string& logPath);

// A TCP port on the loopback address that was free a moment ago; 0 when none.
uint16_t FreeTcpPort();
// A connection to `port` on 127.0.0.1, non-blocking once connected; -1 on failure.
// `receiveBuffer` != 0 sets SO_RCVBUF first (a small window, for a client that never reads).
int ConnectTcp(uint16_t port, int receiveBuffer = 0);

// CPU time (user + system) of a process in clock ticks, and its context switches.
struct ProcessUse {
    uint64_t cpuTicks = 0;
    uint64_t voluntarySwitches = 0;
    uint64_t involuntarySwitches = 0;
};
bool ReadProcessUse(pid_t pid, ProcessUse& use);

// A process's open descriptors (/proc/<pid>/fd) and resident memory (VmRSS).
struct ProcessSize {
    uint64_t descriptors = 0;
    uint64_t residentKb = 0;
};
bool ReadProcessSize(pid_t pid, ProcessSize& size);

class Stage {
public:
    explicit Stage(std::string tavroPath) : tavro_(std::move(tavroPath)) {}
    ~Stage();

    // A private folder and environment (inherited by every child).
    bool Prepare();
    // `tavro config set name value` (before StartHub, or live).
    bool Set(const std::string& name, const std::string& value);
    // `tavro status --json` (through `file` in the stage's folder); empty when it failed.
    std::string StatusJson(const std::string& file = "status.json");
    // The hub on receiver `hubReceiver` (COM1), `clients` virtual ports COM5 upwards, with
    // "Immediate Relay" `immediate`; returns once every client receives the receiver's bytes.
    bool StartHub(uint32_t clients, bool immediate, uint32_t baud = 115200);
    // gpsd on receiver `gpsdReceiver`, with a raw-mode client; returns once it relays.
    bool StartGpsd(const std::string& gpsdPath);
    // A bare reader on receiver `bareReceiver`'s terminal.
    bool OpenBare();

    // Sends one request on the hub's command socket and waits for its answer; the round trip
    // in nanoseconds, 0 on failure.
    uint64_t CommandRoundTrip(uint32_t code);

    // Writes probes into `receiver` until every reader got bytes, then drains them.
    bool WaitForRelay(const std::vector<int>& readers, const Pty& receiver, double seconds);

    Pty hubReceiver;
    Pty gpsdReceiver;
    Pty bareReceiver;
    std::vector<int> clients; // virtual-port descriptors, non-blocking
    int gpsdClient = -1;      // TCP socket in raw watch mode
    int bare = -1;
    Child hub;
    Child gpsd;
    std::string root;

private:
    std::string tavro_;
};

} // namespace tavro::bench
