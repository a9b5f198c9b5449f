#include "tools/relay-bench/NetworkBench.h"

#include "tools/relay-bench/Bench.h"
#include "tools/relay-bench/Measure.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tavro::bench {
namespace {

using namespace std::chrono_literals;

constexpr uint64_t burstIntervalNs = 100'000'000; // 10 Hz
constexpr size_t sentenceBytes = 72;

// The hub with its TCP server on a port that was free, and `ports` virtual-port clients; the
// port, 0 when the hub did not come up.
uint16_t StartNetworkHub(Stage& stage, const NetworkRun& run, uint32_t ports) {
    const uint16_t port = FreeTcpPort();
    if (!stage.Prepare() || port == 0 || !stage.Set("TCP Port", std::to_string(port)) ||
        (run.tcpLimit != 0 && !stage.Set("TCP Clients", std::to_string(run.tcpLimit))) ||
        !stage.StartHub(ports, true)) {
        std::fprintf(stderr, "relay-bench: the hub did not come up (%s)\n", stage.root.c_str());
        return 0;
    }
    return port;
}

void CloseAll(std::vector<int>& fds) {
    for (const int fd : fds) {
        close(fd);
    }
    fds.clear();
}

// `count` TCP clients, each receiving the receiver's bytes (as every virtual port does); empty
// when they could not all connect.
std::vector<int> ConnectReaders(Stage& stage, uint16_t port, uint32_t count) {
    std::vector<int> fds;
    while (fds.size() < count) {
        const int fd = ConnectTcp(port);
        if (fd < 0) {
            std::perror("relay-bench: connect");
            CloseAll(fds);
            return fds;
        }
        fds.push_back(fd);
    }
    std::vector<int> readers = stage.clients;
    readers.insert(readers.end(), fds.begin(), fds.end());
    if (!stage.WaitForRelay(readers, stage.hubReceiver, 20.0)) {
        std::fprintf(stderr, "relay-bench: not every TCP client got the receiver's bytes\n");
        CloseAll(fds);
    }
    return fds;
}

// Bursts of numbered sentences into the hub's receiver every 100 ms, read by the virtual-port
// clients and `network`; each reader's bytes are checked against what was written.
class Phase {
public:
    Phase(Stage& stage, std::vector<int> network, uint32_t first, uint32_t bursts, uint32_t burst)
        : stage_(stage), network_(std::move(network)), first_(first), burst_(burst),
          stream_(Stream(first, bursts * burst)), sentAt_(bursts * burst),
          ports(stream_, stage.clients.size()), tcp(stream_, network_.size()) {}

    void Run() {
        {
            // Threads of their own, as the programs would be: reading a hundred sockets does
            // not hold up the virtual ports' reader.
            Collector portReader(stage_.clients, CheckStream, &ports);
            Collector tcpReader(network_, CheckStream, &tcp);
            const size_t burstBytes = burst_ * sentenceBytes;
            const uint64_t start = NowNs();
            for (size_t at = 0, k = 0; at < stream_.size(); at += burstBytes, ++k) {
                std::this_thread::sleep_for(std::chrono::nanoseconds(
                    std::max<int64_t>(0, start + k * burstIntervalNs - NowNs())));
                const uint64_t now = NowNs();
                std::fill_n(sentAt_.begin() + at / sentenceBytes, burst_, now);
                stage_.hubReceiver.WriteAll(stream_.substr(at, burstBytes));
            }
            std::this_thread::sleep_for(1s);
        }
        for (size_t reader = 0; reader < ports.offsets.size(); ++reader) {
            Add(ports, reader, portDelays);
        }
        for (size_t reader = 0; reader < tcp.offsets.size(); ++reader) {
            Add(tcp, reader, tcpDelays);
            complete += tcp.Complete(reader) ? 1 : 0;
            shortest = std::min(shortest, tcp.offsets[reader]);
        }
    }

    size_t Bytes() const { return stream_.size(); }
    bool PortsComplete() const {
        for (size_t reader = 0; reader < ports.offsets.size(); ++reader) {
            if (!ports.Complete(reader)) {
                return false;
            }
        }
        return true;
    }

private:
    static std::string Stream(uint32_t first, uint32_t count) {
        std::string stream;
        for (uint32_t i = 0; i < count; ++i) {
            stream += Numbered(first + i, sentenceBytes);
        }
        return stream;
    }

    void Add(const StreamRun& run, size_t reader, Delays& delays) const {
        for (size_t i = 0; i < sentAt_.size(); ++i) {
            const auto found = run.arrivals[reader].find(static_cast<int64_t>(first_ + i));
            if (found == run.arrivals[reader].end()) {
                ++delays.missing;
            } else {
                delays.values.push_back(found->second - sentAt_[i]);
            }
        }
    }

    Stage& stage_;
    std::vector<int> network_;
    uint32_t first_;
    size_t burst_;
    std::string stream_;
    std::vector<uint64_t> sentAt_;

public:
    StreamRun ports;
    StreamRun tcp;
    Delays portDelays;
    Delays tcpDelays;
    uint32_t complete = 0;      // TCP clients that got exactly the stream
    size_t shortest = SIZE_MAX; // bytes of the stream the worst TCP client matched
};

// ---- storm ----------------------------------------------------------------------------------

struct StormCounts {
    std::atomic<uint64_t> cycles{0};
    std::atomic<uint64_t> connectFailures{0};
    std::atomic<uint64_t> floods{0};
    std::atomic<uint64_t> floodsKept{0}; // the hub still served it after 5 s
    std::atomic<uint64_t> floodBytes{0};
    std::atomic<uint64_t> stallDrops{0};       // the client that never reads was disconnected
    std::atomic<uint64_t> stallDropMs{0};      // the longest it was served before that
    std::atomic<uint32_t> neverReaderPort{0};  // its local port, as the hub's status names it
    std::atomic<uint64_t> crowded{0};          // connections opened beyond the limit
    std::atomic<uint64_t> crowdServed{0};      // ... that got bytes
    std::atomic<uint64_t> crowdClosedEmpty{0}; // ... closed with nothing sent
};

void Pause(const std::atomic<bool>& stop, std::chrono::milliseconds span) {
    for (auto left = span; left.count() > 0 && !stop.load(); left -= 50ms) {
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(left, 50ms));
    }
}

// Connect and go: closed at once, reset, or after a look at the first bytes; in bursts of 50.
void Cycle(uint16_t port, const std::atomic<bool>& stop, StormCounts& counts) {
    for (uint32_t i = 0; !stop.load(); ++i) {
        const int fd = ConnectTcp(port);
        if (fd < 0) {
            ++counts.connectFailures;
            Pause(stop, 10ms);
            continue;
        }
        if (i % 3 == 1) {
            const linger reset{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        } else if (i % 3 == 2) {
            pollfd entry{fd, POLLIN, 0};
            char buffer[256];
            if (poll(&entry, 1, 20) == 1 && read(fd, buffer, sizeof buffer) < 0) {
                ++counts.connectFailures;
            }
        }
        close(fd);
        ++counts.cycles;
        if (i % 50 == 49) {
            Pause(stop, 500ms);
        }
    }
}

// Binary garbage, 4 kB a millisecond, until the hub ends the connection (or 5 s pass: a flood
// the hub keeps serving). Faster would only fill the kernel's buffers.
void Flood(uint16_t port, const std::atomic<bool>& stop, StormCounts& counts) {
    std::string garbage(4096, '\0');
    uint32_t state = 2463534242u;
    for (char& c : garbage) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state);
    }
    while (!stop.load()) {
        const int fd = ConnectTcp(port);
        if (fd < 0) {
            ++counts.connectFailures;
            Pause(stop, 100ms);
            continue;
        }
        ++counts.floods;
        const uint64_t until = NowNs() + 5'000'000'000ull;
        while (!stop.load() && NowNs() < until) {
            const ssize_t sent = send(fd, garbage.data(), garbage.size(), MSG_NOSIGNAL);
            if (sent > 0) {
                counts.floodBytes += static_cast<uint64_t>(sent);
            } else if (errno != EAGAIN) {
                break; // ended by the hub
            }
            pollfd entry{fd, POLLRDHUP, 0};
            poll(&entry, 1, 1);
            if ((entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
                break;
            }
        }
        counts.floodsKept += NowNs() >= until ? 1 : 0;
        close(fd);
        Pause(stop, 200ms);
    }
}

// A client with a small window that never reads: served until its buffers are full, then
// trimmed and at last dropped by the hub without holding anyone else up. Its end never shows
// here (the hub's FIN waits behind bytes this client does not take): the hub's status tells.
void NeverRead(Stage& stage, uint16_t port, const std::atomic<bool>& stop, StormCounts& counts) {
    while (!stop.load()) {
        const int fd = ConnectTcp(port, 4096);
        if (fd < 0) {
            ++counts.connectFailures;
            Pause(stop, 100ms);
            continue;
        }
        sockaddr_in local{};
        socklen_t length = sizeof local;
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
        counts.neverReaderPort.store(ntohs(local.sin_port));
        const std::string name = "127.0.0.1:" + std::to_string(ntohs(local.sin_port)) + "\"";
        const uint64_t start = NowNs();
        pollfd entry{fd, POLLRDHUP, 0};
        // Closed at once: refused while the crowd held every slot.
        const bool refused = poll(&entry, 1, 200) == 1 && (entry.revents & POLLRDHUP) != 0;
        while (!refused && !stop.load()) {
            Pause(stop, 5s);
            const std::string status = stage.StatusJson("never-reader.json");
            if (!stop.load() && !status.empty() && status.find(name) == std::string::npos) {
                const uint64_t servedMs = (NowNs() - start) / 1'000'000;
                ++counts.stallDrops;
                counts.stallDropMs.store(std::max(counts.stallDropMs.load(), servedMs));
                break;
            }
        }
        const linger reset{1, 0}; // nothing of it lingers in the kernel either
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        close(fd);
        Pause(stop, 100ms);
    }
}

// More connections than the limit at once, every 30 s: each must be served or closed with
// nothing sent.
void Crowd(uint16_t port, uint32_t limit, const std::atomic<bool>& stop, StormCounts& counts) {
    for (Pause(stop, 2s); !stop.load(); Pause(stop, 30s)) {
        std::vector<int> fds;
        for (uint32_t i = 0; i < limit + 8; ++i) {
            const int fd = ConnectTcp(port);
            if (fd < 0) {
                ++counts.connectFailures;
            } else {
                fds.push_back(fd);
            }
        }
        std::this_thread::sleep_for(1s);
        for (const int fd : fds) {
            char buffer[4096];
            const ssize_t count = read(fd, buffer, sizeof buffer);
            ++counts.crowded;
            counts.crowdServed += count > 0 ? 1 : 0;
            counts.crowdClosedEmpty += count == 0 || (count < 0 && errno == ECONNRESET) ? 1 : 0;
        }
        CloseAll(fds);
    }
}

struct Samples {
    std::vector<ProcessSize> values;
    bool hubGone = false;
    void Print(const char* name, uint64_t ProcessSize::*field, const char* unit) const {
        uint64_t most = 0;
        for (const ProcessSize& sample : values) {
            most = std::max<uint64_t>(most, sample.*field);
        }
        std::printf("%-18s first %7llu  last %7llu  max %7llu %s\n", name,
                    static_cast<unsigned long long>(values.front().*field),
                    static_cast<unsigned long long>(values.back().*field),
                    static_cast<unsigned long long>(most), unit);
    }
};

// The number after "name" in the hub's JSON status, from `from` on; -1 when absent.
long long JsonNumber(const std::string& json, const std::string& name, size_t from = 0) {
    const size_t at = from == std::string::npos ? from : json.find("\"" + name + "\"", from);
    return at == std::string::npos ? -1 : std::atoll(json.c_str() + json.find(':', at) + 1);
}

} // namespace

int NetworkDelay(const NetworkRun& run) {
    Stage stage(run.tavro);
    const uint16_t port = StartNetworkHub(stage, run, run.portClients);
    if (port == 0) {
        return 1;
    }
    // Half of the time without TCP clients before the crowded run and half after it, so that a
    // change in the machine's load during the run weighs on both sides alike.
    const uint32_t bursts = run.seconds * 10;
    Phase before(stage, {}, 0, bursts / 2, 1);
    before.Run();
    std::vector<int> network = ConnectReaders(stage, port, run.tcpClients);
    if (network.empty()) {
        return 1;
    }
    Phase crowded(stage, network, bursts, bursts, 1);
    crowded.Run();
    CloseAll(network);
    Phase after(stage, {}, 2 * bursts, bursts - bursts / 2, 1);
    after.Run();
    Delays alone = before.portDelays;
    alone.values.insert(alone.values.end(), after.portDelays.values.begin(),
                        after.portDelays.values.end());
    alone.missing += after.portDelays.missing;
    const bool portsComplete =
        before.PortsComplete() && crowded.PortsComplete() && after.PortsComplete();

    std::printf("%u virtual-port clients; %u sentences of 72 bytes at 10 Hz with %u TCP clients "
                "(\"TCP Clients\" %lld), and as many without (half before, half after)\n",
                run.portClients, bursts, run.tcpClients,
                JsonNumber(stage.StatusJson(), "clientLimit"));
    PrintHeader();
    alone.Print("virtual ports, no TCP client");
    crowded.portDelays.Print("virtual ports, with TCP clients");
    crowded.tcpDelays.Print("TCP clients");
    const double growth = crowded.portDelays.Percentile(0.99) - alone.Percentile(0.99);
    std::printf("TCP clients with every byte in order: %u of %u (the shortest matched %zu of "
                "%zu bytes)\n",
                crowded.complete, run.tcpClients, crowded.shortest, crowded.Bytes());
    std::printf("virtual ports with every byte in order: %s\n", portsComplete ? "yes" : "NO");
    std::printf("p99 growth of the virtual ports' delay: %.3f ms (target < 1 ms: %s)\n", growth,
                growth < 1.0 ? "met" : "NOT met");
    return crowded.complete == run.tcpClients && portsComplete ? 0 : 1;
}

int Storm(const NetworkRun& run) {
    Stage stage(run.tavro);
    const uint16_t port = StartNetworkHub(stage, run, run.portClients);
    if (port == 0) {
        return 1;
    }
    std::vector<int> steady = ConnectReaders(stage, port, 1);
    if (steady.empty()) {
        return 1;
    }
    const pid_t hub = stage.hub.Pid();
    ProcessSize before{};
    ProcessSize after{};
    ReadProcessSize(hub, before);

    StormCounts counts;
    Samples samples;
    std::atomic<bool> stop{false};
    const long long limit = JsonNumber(stage.StatusJson(), "clientLimit");
    if (limit <= 0) {
        std::fprintf(stderr, "relay-bench: tavro status names no TCP client limit\n");
        return 1;
    }
    std::vector<std::thread> storm;
    storm.emplace_back(Cycle, port, std::cref(stop), std::ref(counts));
    storm.emplace_back(Flood, port, std::cref(stop), std::ref(counts));
    storm.emplace_back(Flood, port, std::cref(stop), std::ref(counts));
    storm.emplace_back(NeverRead, std::ref(stage), port, std::cref(stop), std::ref(counts));
    storm.emplace_back(Crowd, port, static_cast<uint32_t>(limit), std::cref(stop),
                       std::ref(counts));
    storm.emplace_back([&] {
        for (; !stop.load(); Pause(stop, std::chrono::seconds(run.sampleSeconds))) {
            ProcessSize size{};
            if (!ReadProcessSize(hub, size)) {
                samples.hubGone = true; // a zombie has no VmRSS
                return;
            }
            samples.values.push_back(size);
        }
    });
    // Four sentences a burst: the never-reading client's buffers fill within seconds.
    Phase phase(stage, steady, 0, run.seconds * 10, 4);
    phase.Run();
    const std::string status = stage.StatusJson(); // while the storm's clients are there
    stop.store(true);
    for (std::thread& thread : storm) {
        thread.join();
    }
    std::this_thread::sleep_for(2s); // the hub sees the last connections go
    const bool alive = ReadProcessSize(hub, after) && !samples.hubGone;
    CloseAll(steady);

    std::printf("%u s storm; TCP client limit %lld; a steady TCP client and %u virtual port(s) "
                "read sentences, 4 every 100 ms\n",
                run.seconds, limit, run.portClients);
    std::printf("connect/disconnect cycles: %llu; failed connects or reads: %llu\n",
                static_cast<unsigned long long>(counts.cycles.load()),
                static_cast<unsigned long long>(counts.connectFailures.load()));
    std::printf("garbage floods: %llu (%llu kB sent), still served after 5 s: %llu\n",
                static_cast<unsigned long long>(counts.floods.load()),
                static_cast<unsigned long long>(counts.floodBytes.load() >> 10),
                static_cast<unsigned long long>(counts.floodsKept.load()));
    const size_t neverReader =
        status.find("127.0.0.1:" + std::to_string(counts.neverReaderPort.load()) + "\"");
    std::printf("client that never reads: dropped by the hub %llu times, the longest after %.0f s "
                "(seen every 5 s); the last one had been sent %lld bytes, %lld dropped\n",
                static_cast<unsigned long long>(counts.stallDrops.load()),
                counts.stallDropMs.load() / 1000.0, JsonNumber(status, "bytesSent", neverReader),
                JsonNumber(status, "bytesDropped", neverReader));
    std::printf("beyond the limit: %llu connections, %llu served, %llu closed with nothing sent; "
                "the hub counts %lld refused\n",
                static_cast<unsigned long long>(counts.crowded.load()),
                static_cast<unsigned long long>(counts.crowdServed.load()),
                static_cast<unsigned long long>(counts.crowdClosedEmpty.load()),
                JsonNumber(status, "refused"));
    PrintHeader();
    phase.portDelays.Print("virtual port during the storm");
    phase.tcpDelays.Print("steady TCP client");
    const bool steadyComplete = phase.PortsComplete() && phase.complete == 1;
    std::printf("steady clients got every byte in order: %s\n", steadyComplete ? "yes" : "NO");
    bool flat = false;
    if (!samples.values.empty()) {
        std::printf("hub, %zu samples every %u s:\n", samples.values.size(), run.sampleSeconds);
        samples.Print("open descriptors", &ProcessSize::descriptors, "");
        samples.Print("resident memory", &ProcessSize::residentKb, "kB");
        std::printf("resident memory, kB over the first sample:");
        for (const ProcessSize& sample : samples.values) {
            std::printf(" %lld", static_cast<long long>(sample.residentKb) -
                                     static_cast<long long>(samples.values.front().residentKb));
        }
        std::printf("\n");
        // Memory is flat when the later half never exceeds what the first half reached (every
        // client slot was in use by then), give or take the allocator's slack.
        const size_t half = samples.values.size() / 2;
        uint64_t early = 0;
        uint64_t late = 0;
        for (size_t i = 0; i < samples.values.size(); ++i) {
            (i < half ? early : late) =
                std::max(i < half ? early : late, samples.values[i].residentKb);
        }
        flat = after.descriptors == before.descriptors && (half == 0 || late <= early + 128) &&
               after.residentKb <= early + 128;
    }
    std::printf("quiet before / after: %llu / %llu descriptors, %llu / %llu kB; hub %s; "
                "descriptors and memory %s\n",
                static_cast<unsigned long long>(before.descriptors),
                static_cast<unsigned long long>(after.descriptors),
                static_cast<unsigned long long>(before.residentKb),
                static_cast<unsigned long long>(after.residentKb), alive ? "running" : "GONE",
                flat ? "flat" : "NOT flat");
    return alive && steadyComplete && flat && counts.floodsKept == 0 ? 0 : 1;
}

} // namespace tavro::bench
