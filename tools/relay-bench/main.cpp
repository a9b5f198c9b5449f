// relay-bench: what scripts/bench-latency runs. Each verb builds its own stage (pseudo-terminal
// receivers, `tavro run`, gpsd) in a private folder and prints its numbers.
//
//   latency     sentences written at once into three identical receivers: the hub's (read by
//               N clients on virtual ports), gpsd's (one raw-mode client) and a bare terminal
//               (read directly); the delay from the write to each reader, p50/p99/max
//   throughput  a receiver at full load at 115200 baud (11,520 bytes/s) for S seconds: every
//               client must get every byte in order, and the last within 5 ms
//   write       one client writes a large block to a slow receiver line while another
//               client's sentences and the command socket are timed
//   idle        the hub's CPU time and wake-ups, silent receiver and then sentences at 10 Hz
//   clock       the error of the time "Auto Time Sync" sets (the engine in this process)
//   feed        two receivers for the Windows edition under Wine (tests/windows/bench-wine.sh):
//               their terminals' paths go to a file; once a ready file appears, stamped
//               sentences go into both (every --interval-ms, or as a stream of --rate bytes/s
//               for --seconds), then a done file is made
//   network     the virtual ports' delay at 10 Hz with no TCP client and then with
//               --tcp-clients (--seconds each; "TCP Clients" set to --tcp-limit), and whether
//               every TCP client got every byte in order
//   storm       connection storms against the TCP server for --seconds while a TCP client and
//               a virtual port read; the hub's descriptors and memory every --sample-seconds
#include "tools/relay-bench/Bench.h"
#include "tools/relay-bench/ClockBench.h"
#include "tools/relay-bench/Measure.h"
#include "tools/relay-bench/NetworkBench.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace tavro::bench {
namespace {

using namespace std::chrono_literals;

struct Options {
    std::string verb;
    std::string tavro;
    std::string gpsd;
    uint32_t count = 200;
    uint32_t intervalMs = 57; // not a multiple of the tick, so tick delays spread out
    uint32_t clients = 8;
    uint32_t seconds = 60;
    uint32_t rate = 11520;
    uint32_t bytes = 102400;
    uint32_t lineBaud = 4800;
    bool tick = false;   // "Immediate Relay" 0
    std::string links;   // feed: where the terminals' paths go
    std::string ready;   // feed: appears when the readers listen
    std::string done;    // feed: made when everything was sent
    bool stream = false; // feed: --rate bytes/s for --seconds instead of sentences
    uint32_t tcpClients = 100;
    uint32_t tcpLimit = 0;
    uint32_t sampleSeconds = 5;
};

// ---- latency ------------------------------------------------------------------------------

struct LatencyRun {
    std::mutex lock;
    // [reader][sequence] arrival
    std::vector<std::map<int64_t, uint64_t>> arrivals;
};

void RecordArrival(void* context, size_t reader, const std::string& line, uint64_t at) {
    auto* run = static_cast<LatencyRun*>(context);
    const int64_t sequence = SequenceOf(line);
    if (sequence >= 0) {
        std::lock_guard guard(run->lock);
        run->arrivals[reader].emplace(sequence, at);
    }
}

int Latency(const Options& options) {
    Stage stage(options.tavro);
    if (!stage.Prepare() || !stage.StartHub(options.clients, !options.tick)) {
        std::fprintf(stderr, "relay-bench: the hub did not come up (%s)\n", stage.root.c_str());
        return 1;
    }
    const bool withGpsd = !options.gpsd.empty();
    if (withGpsd && !stage.StartGpsd(options.gpsd)) {
        std::fprintf(stderr, "relay-bench: gpsd did not relay (%s)\n", stage.root.c_str());
        return 1;
    }
    if (!stage.OpenBare()) {
        std::fprintf(stderr, "relay-bench: the bare terminal did not relay\n");
        return 1;
    }
    std::vector<int> readers = stage.clients;
    const size_t gpsdReader = readers.size();
    if (withGpsd) {
        readers.push_back(stage.gpsdClient);
    }
    const size_t bareReader = readers.size();
    readers.push_back(stage.bare);
    LatencyRun run;
    run.arrivals.resize(readers.size());
    std::vector<uint64_t> hubSent(options.count);
    std::vector<uint64_t> gpsdSent(options.count);
    std::vector<uint64_t> bareSent(options.count);
    {
        Collector collector(readers, RecordArrival, &run);
        for (uint32_t i = 0; i < options.count; ++i) {
            const std::string line = Numbered(i, 72);
            // The same sentence into the three receivers, their order turning.
            for (uint32_t k = 0; k < 3; ++k) {
                const uint32_t which = (i + k) % 3;
                const Pty& receiver = which == 0   ? stage.hubReceiver
                                      : which == 1 ? stage.gpsdReceiver
                                                   : stage.bareReceiver;
                std::vector<uint64_t>& sent = which == 0   ? hubSent
                                              : which == 1 ? gpsdSent
                                                           : bareSent;
                if (which == 1 && !withGpsd) {
                    continue;
                }
                sent[i] = NowNs();
                receiver.WriteAll(line);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(options.intervalMs));
        }
        std::this_thread::sleep_for(500ms);
        collector.Stop();
    }
    Delays hub;
    Delays first;
    Delays gpsd;
    Delays bare;
    for (size_t reader = 0; reader < readers.size(); ++reader) {
        Delays& delays = reader == bareReader                 ? bare
                         : (withGpsd && reader == gpsdReader) ? gpsd
                         : reader == 0                        ? first
                                                              : hub;
        const std::vector<uint64_t>& sent = reader == bareReader                 ? bareSent
                                            : (withGpsd && reader == gpsdReader) ? gpsdSent
                                                                                 : hubSent;
        for (uint32_t i = 0; i < options.count; ++i) {
            const auto found = run.arrivals[reader].find(i);
            if (found == run.arrivals[reader].end()) {
                ++delays.missing;
            } else {
                delays.values.push_back(found->second - sent[i]);
            }
        }
    }
    std::printf("%u sentences of 72 bytes every %u ms; hub with %u clients (%s)\n", options.count,
                options.intervalMs, options.clients,
                options.tick ? "Immediate Relay 0: tick" : "Immediate Relay 1");
    PrintHeader();
    bare.Print("bare pseudo-terminal");
    if (withGpsd) {
        gpsd.Print("gpsd, raw client");
    }
    hub.values.insert(hub.values.end(), first.values.begin(), first.values.end());
    hub.missing += first.missing;
    first.Print(options.tick ? "tavro hub (tick), first port" : "tavro hub, first port");
    hub.Print(options.tick ? "tavro hub (tick), all ports" : "tavro hub, all ports");
    return hub.missing == 0 ? 0 : 1;
}

// ---- throughput ---------------------------------------------------------------------------

int Throughput(const Options& options) {
    Stage stage(options.tavro);
    if (!stage.Prepare() || !stage.StartHub(options.clients, !options.tick)) {
        std::fprintf(stderr, "relay-bench: the hub did not come up (%s)\n", stage.root.c_str());
        return 1;
    }
    // Sentences of 80 bytes, as many as the line carries in the time.
    const uint64_t total = uint64_t{options.rate} * options.seconds;
    std::string stream;
    std::vector<size_t> ends; // where each sentence ends in the stream
    for (uint32_t i = 0; stream.size() < total; ++i) {
        stream += Numbered(i, 80);
        ends.push_back(stream.size());
    }
    StreamRun run(stream, stage.clients.size());
    std::vector<uint64_t> sentAt(ends.size(), 0);
    uint64_t lastWrite = 0;
    {
        Collector collector(stage.clients, CheckStream, &run);
        const uint64_t start = NowNs();
        size_t written = 0;
        size_t sentence = 0;
        while (written < stream.size()) {
            std::this_thread::sleep_for(1ms);
            const uint64_t now = NowNs();
            const size_t due = std::min<size_t>(
                stream.size(), static_cast<size_t>((now - start) * 1e-9 * options.rate));
            if (due <= written) {
                continue;
            }
            lastWrite = NowNs();
            stage.hubReceiver.WriteAll(stream.substr(written, due - written));
            written = due;
            while (sentence < ends.size() && ends[sentence] <= written) {
                sentAt[sentence++] = lastWrite;
            }
        }
        std::this_thread::sleep_for(1s);
        collector.Stop();
    }
    Delays delays;
    uint64_t lastDelay = 0;
    bool complete = true;
    for (size_t c = 0; c < stage.clients.size(); ++c) {
        complete = complete && run.Complete(c);
        for (size_t i = 0; i < ends.size(); ++i) {
            const auto found = run.arrivals[c].find(static_cast<int64_t>(i));
            if (found == run.arrivals[c].end()) {
                ++delays.missing;
                continue;
            }
            delays.values.push_back(found->second - sentAt[i]);
            if (i + 1 == ends.size()) {
                lastDelay = std::max(lastDelay, found->second - sentAt[i]);
            }
        }
        std::printf("client %zu: %zu of %zu bytes, %u lines differed\n", c, run.offsets[c],
                    stream.size(), run.mismatch[c]);
    }
    std::printf("%zu bytes at %u bytes/s for %u s into the receiver, %u clients\n", stream.size(),
                options.rate, options.seconds, options.clients);
    PrintHeader();
    delays.Print("sentence delay, all clients");
    std::printf("last byte: %.3f ms after it was sent; every byte in order: %s\n", lastDelay / 1e6,
                complete ? "yes" : "NO");
    return complete && lastDelay <= 5'000'000 ? 0 : 1;
}

// ---- write --------------------------------------------------------------------------------

int Write(const Options& options) {
    Stage stage(options.tavro);
    if (!stage.Prepare() ||
        !stage.StartHub(std::max(2u, options.clients), !options.tick, options.lineBaud)) {
        std::fprintf(stderr, "relay-bench: the hub did not come up (%s)\n", stage.root.c_str());
        return 1;
    }
    // The receiver's line takes the hub's bytes at its speed: read from the terminal at that
    // rate (what the terminal buffers stands for the hardware's queue).
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> lineBytes{0};
    std::string block(options.bytes, '\0');
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>('A' + i % 26);
    }
    std::thread line([&] {
        const uint64_t start = NowNs();
        char buffer[4096];
        while (!stop.load()) {
            std::this_thread::sleep_for(10ms);
            const uint64_t allowed =
                static_cast<uint64_t>((NowNs() - start) * 1e-9 * options.lineBaud / 10);
            const uint64_t want = allowed > lineBytes.load() ? allowed - lineBytes.load() : 0;
            if (want == 0) {
                continue;
            }
            const ssize_t count =
                read(stage.hubReceiver.master, buffer, std::min<uint64_t>(want, sizeof buffer));
            if (count > 0) {
                lineBytes += static_cast<uint64_t>(count);
            }
        }
    });
    std::atomic<uint64_t> writerDone{0};
    std::thread writer([&] {
        const int fd = stage.clients[0];
        size_t done = 0;
        while (done < block.size() && !stop.load()) {
            const ssize_t count = ::write(fd, block.data() + done, block.size() - done);
            if (count > 0) {
                done += static_cast<size_t>(count);
            } else {
                pollfd entry{fd, POLLOUT, 0};
                poll(&entry, 1, 100);
            }
            writerDone.store(done);
        }
    });
    LatencyRun run;
    run.arrivals.resize(1);
    std::vector<uint64_t> sent;
    Delays commands;
    {
        Collector collector({stage.clients[1]}, RecordArrival, &run);
        const uint64_t end = NowNs() + uint64_t{options.seconds} * 1'000'000'000u;
        for (uint32_t i = 0; NowNs() < end; ++i) {
            sent.push_back(NowNs());
            stage.hubReceiver.WriteAll(Numbered(i, 72));
            const uint64_t roundTrip = stage.CommandRoundTrip(0); // ReleaseRelay
            if (roundTrip == 0) {
                ++commands.missing;
            } else {
                commands.values.push_back(roundTrip);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(options.intervalMs));
        }
        std::this_thread::sleep_for(300ms);
        collector.Stop();
    }
    stop.store(true);
    writer.join();
    line.join();
    Delays delays;
    for (uint32_t i = 0; i < sent.size(); ++i) {
        const auto found = run.arrivals[0].find(i);
        if (found == run.arrivals[0].end()) {
            ++delays.missing;
        } else {
            delays.values.push_back(found->second - sent[i]);
        }
    }
    std::printf("one client writes %u bytes to a receiver line of %u baud; %u s measured; the "
                "line took %llu bytes, the writer handed over %llu\n",
                options.bytes, options.lineBaud, options.seconds,
                static_cast<unsigned long long>(lineBytes.load()),
                static_cast<unsigned long long>(writerDone.load()));
    PrintHeader();
    delays.Print("another client's sentences");
    commands.Print("command socket round trip");
    return delays.missing == 0 && commands.missing == 0 ? 0 : 1;
}

// ---- idle ---------------------------------------------------------------------------------

int Idle(const Options& options) {
    Stage stage(options.tavro);
    if (!stage.Prepare() || !stage.StartHub(options.clients, !options.tick)) {
        std::fprintf(stderr, "relay-bench: the hub did not come up (%s)\n", stage.root.c_str());
        return 1;
    }
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    ProcessUse before{};
    ProcessUse after{};
    std::this_thread::sleep_for(2s);
    // Silent receiver.
    ReadProcessUse(stage.hub.Pid(), before);
    std::this_thread::sleep_for(std::chrono::seconds(options.seconds));
    ReadProcessUse(stage.hub.Pid(), after);
    const double silentCpu =
        100.0 * (after.cpuTicks - before.cpuTicks) / ticksPerSecond / options.seconds;
    const double silentWakes =
        static_cast<double>(after.voluntarySwitches - before.voluntarySwitches) / options.seconds;
    // Sentences at 10 Hz, each written at once, as a receiver's UART delivers a burst.
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        char buffer[4096];
        while (!stop.load()) {
            for (const int fd : stage.clients) {
                while (read(fd, buffer, sizeof buffer) > 0) {
                }
            }
            std::this_thread::sleep_for(20ms);
        }
    });
    ReadProcessUse(stage.hub.Pid(), before);
    const uint32_t sentences = options.seconds * 10;
    for (uint32_t i = 0; i < sentences; ++i) {
        stage.hubReceiver.WriteAll(Numbered(i, 72));
        std::this_thread::sleep_for(100ms);
    }
    ReadProcessUse(stage.hub.Pid(), after);
    stop.store(true);
    drain.join();
    const double busyCpu =
        100.0 * (after.cpuTicks - before.cpuTicks) / ticksPerSecond / options.seconds;
    const double wakes =
        static_cast<double>(after.voluntarySwitches - before.voluntarySwitches) / options.seconds;
    std::printf("hub with %u clients (%s), %u s each\n", options.clients,
                options.tick ? "Immediate Relay 0" : "Immediate Relay 1", options.seconds);
    std::printf("silent receiver:      CPU %.3f %% of a core, %.1f wake-ups/s (ticks: 20/s)\n",
                silentCpu, silentWakes);
    std::printf("10 sentences/s:       CPU %.3f %% of a core, %.1f wake-ups/s, %.2f wake-ups "
                "per sentence beyond the silent rate\n",
                busyCpu, wakes, (wakes - silentWakes) / 10.0);
    return 0;
}

// ---- feed ---------------------------------------------------------------------------------

int64_t RealUs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// "$GPTXT,01,01,02,SEQ nnnnnn T <UTC us>,xx..*hh": the send time for a reader on any clock
// that follows UTC (a Win32 program under Wine).
std::string Stamped(uint32_t sequence, size_t padTo) {
    char body[96];
    std::snprintf(body, sizeof body, "GPTXT,01,01,02,SEQ %06u T %lld,", sequence,
                  static_cast<long long>(RealUs()));
    std::string text = body;
    while (text.size() + 6 < padTo) {
        text += 'x';
    }
    return Sentence(text);
}

int Feed(const Options& options) {
    Pty receiver;
    Pty bare;
    if (!receiver.Open() || !bare.Open()) {
        return 1;
    }
    {
        FILE* links = std::fopen(options.links.c_str(), "w");
        if (links == nullptr) {
            return 1;
        }
        std::fprintf(links, "%s\n%s\n", receiver.slave.c_str(), bare.slave.c_str());
        std::fclose(links);
    }
    // Probes until the readers listen, so the hub recognises the stream before the run.
    while (access(options.ready.c_str(), F_OK) != 0) {
        receiver.WriteAll(Sentence("GPTXT,01,01,02,probe"));
        bare.WriteAll(Sentence("GPTXT,01,01,02,probe"));
        std::this_thread::sleep_for(200ms);
    }
    std::this_thread::sleep_for(500ms);
    uint32_t sentences = 0;
    if (!options.stream) {
        sentences = options.count;
        for (uint32_t i = 0; i < options.count; ++i) {
            const std::string line = Stamped(i, 72);
            if (i % 2 == 0) {
                receiver.WriteAll(line);
                bare.WriteAll(line);
            } else {
                bare.WriteAll(line);
                receiver.WriteAll(line);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(options.intervalMs));
        }
    } else {
        // A stream at the line's full load: whole sentences when they are due.
        const uint64_t start = NowNs();
        uint64_t sent = 0;
        uint32_t i = 0;
        while (NowNs() - start < uint64_t{options.seconds} * 1'000'000'000u) {
            const uint64_t due = (NowNs() - start) / 1000 * options.rate / 1000000;
            while (sent + 80 <= due) {
                const std::string line = Stamped(i++, 80);
                receiver.WriteAll(line);
                bare.WriteAll(line);
                sent += line.size();
            }
            std::this_thread::sleep_for(1ms);
        }
        std::printf("feed: %u sentences, %llu bytes in %u s\n", i,
                    static_cast<unsigned long long>(sent), options.seconds);
        sentences = i;
    }
    std::this_thread::sleep_for(500ms);
    FILE* done = std::fopen(options.done.c_str(), "w");
    if (done != nullptr) {
        std::fprintf(done, "%u\n", sentences);
        std::fclose(done);
    }
    std::this_thread::sleep_for(3s); // the readers end before the terminals go
    return 0;
}

bool Parse(int argc, char** argv, Options& options) {
    if (argc < 2) {
        return false;
    }
    options.verb = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string name = argv[i];
        auto number = [&](uint32_t& value) {
            if (i + 1 >= argc) {
                return false;
            }
            value = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
            return true;
        };
        if (name == "--tavro" && i + 1 < argc) {
            options.tavro = argv[++i];
        } else if (name == "--gpsd" && i + 1 < argc) {
            options.gpsd = argv[++i];
        } else if (name == "--links" && i + 1 < argc) {
            options.links = argv[++i];
        } else if (name == "--ready" && i + 1 < argc) {
            options.ready = argv[++i];
        } else if (name == "--done" && i + 1 < argc) {
            options.done = argv[++i];
        } else if (name == "--stream") {
            options.stream = true;
        } else if (name == "--tick") {
            options.tick = true;
        } else if ((name == "--count" && number(options.count)) ||
                   (name == "--interval-ms" && number(options.intervalMs)) ||
                   (name == "--clients" && number(options.clients)) ||
                   (name == "--seconds" && number(options.seconds)) ||
                   (name == "--rate" && number(options.rate)) ||
                   (name == "--bytes" && number(options.bytes)) ||
                   (name == "--line-baud" && number(options.lineBaud)) ||
                   (name == "--tcp-clients" && number(options.tcpClients)) ||
                   (name == "--tcp-limit" && number(options.tcpLimit)) ||
                   (name == "--sample-seconds" && number(options.sampleSeconds))) {
            continue;
        } else {
            return false;
        }
    }
    if (options.verb == "feed") {
        return !options.links.empty() && !options.ready.empty() && !options.done.empty();
    }
    return (!options.tavro.empty() || options.verb == "clock") && options.clients >= 1 &&
           options.clients <= 8;
}

} // namespace
} // namespace tavro::bench

int main(int argc, char** argv) {
    using namespace tavro::bench;
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fputs("usage: relay-bench latency|throughput|write|idle|clock|network|storm\n"
                   "       --tavro PATH [--gpsd PATH]\n"
                   "       relay-bench feed --links FILE --ready FILE --done FILE [--stream]\n"
                   "       [--count N] [--interval-ms N] [--clients 1-8] [--seconds N]\n"
                   "       [--rate BYTES/S] [--bytes N] [--line-baud N] [--tick]\n"
                   "       [--tcp-clients N] [--tcp-limit N] [--sample-seconds N]\n",
                   stderr);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (options.verb == "latency") {
        return Latency(options);
    }
    if (options.verb == "throughput") {
        return Throughput(options);
    }
    if (options.verb == "write") {
        return Write(options);
    }
    if (options.verb == "idle") {
        return Idle(options);
    }
    if (options.verb == "feed") {
        return Feed(options);
    }
    const NetworkRun network{options.tavro,      options.seconds,  options.clients,
                             options.tcpClients, options.tcpLimit, options.sampleSeconds};
    if (options.verb == "network") {
        return NetworkDelay(network);
    }
    if (options.verb == "storm") {
        return Storm(network);
    }
    if (options.verb == "clock") {
        return ClockError(options.lineBaud, options.count, !options.tick);
    }
    std::fprintf(stderr, "relay-bench: unknown verb %s\n", options.verb.c_str());
    return 2;
}
