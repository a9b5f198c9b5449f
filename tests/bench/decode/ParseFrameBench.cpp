// ParseFrame over the corpus recordings, cut into frames as the input port cuts them, with
// "Multi GNSS" on (its default) unless a benchmark says otherwise. Reports MB/s of frame bytes,
// ns per frame, and heap allocations inside the timed loop.
#include "hub/decode/ParseFrame.h"
#include "hub/time/ClockSync.h"
#include "tests/decode/CorpusSupport.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <new>
#include <stdlib.h>
#include <vector>

namespace {

std::atomic<uint64_t> allocations{0};

} // namespace

// Counts every allocation of the program, so the timed loop can show that it makes none.
void* operator new(size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = malloc(size == 0 ? 1 : size)) {
        return p;
    }
    abort();
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete(void* p, size_t) noexcept {
    free(p);
}

namespace tavro {
namespace {

class NullClock final : public platform::SystemClock {
public:
    uint32_t SetSystemTime(const SystemTime&) override { return 0; }
};

// The cheapest honest host: the relay only counts, the recovery re-opens at once, and the tick
// count follows the frames as they would arrive at 38400 baud (the decoder's rules look at how
// long ago a kind of sentence came).
class BenchHost final : public ParserHost {
public:
    GpsSharedStatus& Status() override { return block; }
    uint32_t OptionFlags() const override { return options; }
    bool MultiGnss() const override { return multiGnss; }
    uint32_t TickCount() override { return tick; }
    uint32_t RequestedBaud() const override { return 0; }
    void RequestReopen() override {}
    void Relay(const uint8_t*, uint32_t length) override { relayedBytes += length; }
    bool RecoveryReopen(uint32_t& lineSpeed) override {
        lineSpeed = 4800;
        return true;
    }
    platform::SystemClock& Clock() override { return clock; }
    void SyncClock(GpsSharedStatus& fix) override { ClockSync(*this, fix); }

    GpsSharedStatus block{};
    uint32_t options = optionAutoTimeSync;
    bool multiGnss = true;
    uint32_t tick = 0;
    uint64_t relayedBytes = 0;
    NullClock clock;
};

const char* const nmeaRecordings[] = {
    "ais-nmea",          "blumax-gps009",    "bt-q818",        "bundg_zeus_9",
    "eXplorist210",      "garmin-geko201",   "garmin17n",      "gp-320fw-2019-04-07-coldboot",
    "mr-350p",           "mt3339",           "mtk-3301",       "mtk-3329",
    "neo-m8n",           "nmea-fuzzy-cases", "quectel-L70",    "saab-r4",
    "sounder",           "telit-he910",      "tnt-revolution", "ublox-neo-m9n-nmea",
    "quectel-l76k-nmea", "st-teseo-liv3f",   "unicore-um621"};
// Receivers of several constellations (GN, GL, GA, GB/BD talkers).
const char* const multiGnssRecordings[] = {"neo-m8n", "ublox-neo-m9n-nmea", "quectel-l76k-nmea",
                                           "st-teseo-liv3f", "unicore-um621"};
const char* const sirfRecordings[] = {"bu303-climbing", "bu303-moving", "bu303-nofix",
                                      "bu303-stillfix", "bu303b-nofix", "sirf2",
                                      "sirfstarv",      "ublox-sirf1"};

// The recordings' frames in turn, and when each arrives: at 38400 baud, each recording a minute
// after the one before (another receiver, another session).
struct Replay {
    std::vector<std::string> frames;
    std::vector<uint32_t> arrival; // milliseconds from the first frame
};

Replay Frames(bool nmea, bool sirf, bool multiGnssOnly = false) {
    Replay replay;
    uint64_t bytes = 0;
    uint32_t sessionStart = 0;
    auto add = [&](const char* folder, const char* name) {
        const std::string log =
            testing::ReadFile(testing::CorpusDir() + "/gpsd/" + folder + "/" + name + ".log");
        for (testing::CutFrame& frame :
             testing::CutLikePoll(std::string_view(log).substr(testing::HeaderLength(log)), 192)) {
            bytes += frame.bytes.size();
            replay.arrival.push_back(sessionStart + static_cast<uint32_t>(bytes * 1000 / 3840));
            replay.frames.push_back(std::move(frame.bytes));
        }
        bytes = 0;
        sessionStart = (replay.arrival.empty() ? 0 : replay.arrival.back()) + 60000;
    };
    if (multiGnssOnly) {
        for (const char* name : multiGnssRecordings) {
            add("nmea", name);
        }
    } else if (nmea) {
        for (const char* name : nmeaRecordings) {
            add("nmea", name);
        }
    }
    if (sirf) {
        for (const char* name : sirfRecordings) {
            add("sirf", name);
        }
    }
    return replay;
}

void ParseFrames(benchmark::State& state, const Replay& replay, uint32_t options,
                 bool multiGnss = true) {
    const std::vector<std::string>& frames = replay.frames;
    if (frames.empty()) {
        state.SkipWithError("corpus recordings not found");
        return;
    }
    BenchHost host;
    host.options |= options;
    host.multiGnss = multiGnss;
    uint64_t bytes = 0;
    for (const std::string& frame : frames) {
        bytes += frame.size();
    }
    const std::vector<uint32_t>& arrival = replay.arrival;
    uint32_t lap = 0;
    const uint64_t allocationsBefore = allocations.load();
    for (auto _ : state) {
        for (size_t i = 0; i < frames.size(); ++i) {
            const std::string& frame = frames[i];
            host.tick = lap + arrival[i];
            // Frames from the port are SiRF or NMEA as the stream says; the parser finds out.
            ParseFrame(host, reinterpret_cast<const uint8_t*>(frame.data()),
                       static_cast<uint32_t>(frame.size()), false);
        }
        lap += arrival.back() + 60000;
        benchmark::DoNotOptimize(host.block);
    }
    const double allocated = static_cast<double>(allocations.load() - allocationsBefore);
    state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
    const double count = static_cast<double>(frames.size());
    state.counters["per_frame"] = benchmark::Counter(
        count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["frames"] = count;
    state.counters["allocs/frame"] = allocated / (count * static_cast<double>(state.iterations()));
}

void BM_ParseFrame_Mix(benchmark::State& state) {
    static const Replay frames = Frames(true, true);
    ParseFrames(state, frames, 0);
}
void BM_ParseFrame_MixWithNmeaFilter(benchmark::State& state) {
    static const Replay frames = Frames(true, true);
    ParseFrames(state, frames, optionNmeaFilter);
}
void BM_ParseFrame_Nmea(benchmark::State& state) {
    static const Replay frames = Frames(true, false);
    ParseFrames(state, frames, 0);
}
// "Multi GNSS" off: the nine talkers of GPS-only receivers, for comparison.
void BM_ParseFrame_NmeaNineTalkers(benchmark::State& state) {
    static const Replay frames = Frames(true, false);
    ParseFrames(state, frames, 0, false);
}
void BM_ParseFrame_MultiGnssReceivers(benchmark::State& state) {
    static const Replay frames = Frames(true, false, true);
    ParseFrames(state, frames, 0);
}
void BM_ParseFrame_Sirf(benchmark::State& state) {
    static const Replay frames = Frames(false, true);
    ParseFrames(state, frames, 0);
}

BENCHMARK(BM_ParseFrame_Mix);
BENCHMARK(BM_ParseFrame_MixWithNmeaFilter);
BENCHMARK(BM_ParseFrame_Nmea);
BENCHMARK(BM_ParseFrame_NmeaNineTalkers);
BENCHMARK(BM_ParseFrame_MultiGnssReceivers);
BENCHMARK(BM_ParseFrame_Sirf);

} // namespace
} // namespace tavro

BENCHMARK_MAIN();
