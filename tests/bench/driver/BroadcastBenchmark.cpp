// Cost of the hub's broadcast: 510 bytes of NMEA sentences into 8 open ports with 8 handles
// each, every handle with a queued read and a queued wait. Reported per byte and port
// ("ns_per_byte_port"); "allocations" counts pool allocations made inside the timed region.
#include <benchmark/benchmark.h>

#include <chrono>

#include <memory>
#include <string>
#include <vector>

#include "sys/usermode/UserDriver.h"
#include "sys/usermode/UserServices.h"

namespace tavro::driver {
namespace {

using usermode::UserDriver;

constexpr uint32_t handlesPerPort = 8;
constexpr uint32_t chunkSize = 510;

std::string NmeaChunk() {
    const std::string sentences =
        "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
        "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n"
        "$GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75\r\n"
        "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
    std::string chunk;
    while (chunk.size() < chunkSize) {
        chunk += sentences;
    }
    chunk.resize(chunkSize);
    return chunk;
}

struct Application {
    uint32_t port;
    FileObject file;
    std::unique_ptr<Request> read;
    std::unique_ptr<Request> wait;
};

class Setup {
public:
    // How the applications are set up: reads that the chunk cannot satisfy (so every slot stays
    // taken for every byte) or reads of one sentence's length.
    Setup(uint32_t readLength, uint32_t waitMask, bool bulk = true)
        : driver_({1, 2, 3, 4, 5, 6, 7, 8}), readLength_(readLength) {
        usermode::SetDebugCapture(false);
        for (uint32_t port = 0; port < virtualPortCount; ++port) {
            driver_.Port(port).SetBulkReceive(bulk);
        }
        FileObject hub;
        for (uint32_t port = 0; port < virtualPortCount; ++port) {
            for (uint32_t i = 0; i < handlesPerPort; ++i) {
                apps_.push_back(std::make_unique<Application>());
                Application& app = *apps_.back();
                app.port = port;
                driver_.Open(port, app.file);
                const SERIAL_CHARS chars{0, 0, 0, '\n', 0x11, 0x13};
                Send(app,
                     MakeDeviceControl(app.file, IOCTL_SERIAL_SET_CHARS, &chars, sizeof chars, 0));
                Send(app, MakeDeviceControl(app.file, IOCTL_SERIAL_SET_WAIT_MASK, &waitMask, 4, 0));
                app.read = MakeRead(app.file, readLength_);
                app.wait = MakeDeviceControl(app.file, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 4);
            }
        }
        chunk_ = NmeaChunk();
        broadcast_ = MakeDeviceControl(hub, IOCTL_TAVRO_BROADCAST, chunk_.data(), chunkSize, 0);
    }

    ~Setup() {
        for (auto& app : apps_) {
            driver_.Cleanup(app->port, app->file);
            driver_.Close(app->port, app->file);
        }
    }

    // Queues again whatever the last broadcast completed (outside the timed region). A wait
    // may end at once from the events kept since the last one; the next one stays queued.
    void Requeue() {
        for (auto& app : apps_) {
            for (Request* request : {app->read.get(), app->wait.get()}) {
                for (int attempt = 0; attempt < 2; ++attempt) {
                    if (request->Completed() || !request->pending.load()) {
                        request->Reuse();
                        driver_.Dispatch(driver_.Port(app->port), *request);
                    }
                }
            }
        }
    }

    void Broadcast() {
        broadcast_->Reuse();
        driver_.Dispatch(driver_.Control(), *broadcast_);
    }

private:
    void Send(Application& app, std::unique_ptr<Request> request) {
        driver_.Dispatch(driver_.Port(app.port), *request);
    }

    UserDriver driver_;
    uint32_t readLength_;
    std::vector<std::unique_ptr<Application>> apps_;
    std::string chunk_;
    std::unique_ptr<Request> broadcast_;
};

// The broadcast alone, in seconds of the steady clock: pausing the benchmark's timers around
// the re-queuing costs more than a broadcast (it reads the process's CPU time) and part of
// that lands in the time measured.
double TimedBroadcast(Setup& setup) {
    const auto start = std::chrono::steady_clock::now();
    setup.Broadcast();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Report(benchmark::State& state, uint64_t allocations) {
    state.counters["ns_per_byte_port"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * chunkSize * virtualPortCount,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocations"] = static_cast<double>(allocations);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * chunkSize *
                            virtualPortCount);
}

// Every handle: a read of 4096 bytes (never satisfied by one chunk, so all eight read slots
// stay taken for almost every byte) and a wait for EV_RXFLAG on line feeds, queued again after
// each broadcast. The read is longer than the handle's share of the ring: about every eighth
// chunk the waiting bytes move into the read buffers and the reads complete, so the time
// includes handing every byte to every handle (on a 2-core build machine about 0.17 of the
// ns per byte and port). Argument 0 runs both checks after every byte instead of receiving in
// bulk.
void BM_BroadcastQueuedReadsAndWaits(benchmark::State& state) {
    Setup setup(4096, SERIAL_EV_RXFLAG, state.range(0) != 0);
    uint64_t allocations = 0;
    for (auto _ : state) {
        setup.Requeue();
        const uint64_t before = usermode::Allocations().allocations;
        state.SetIterationTime(TimedBroadcast(setup));
        allocations += usermode::Allocations().allocations - before;
    }
    Report(state, allocations);
}
BENCHMARK(BM_BroadcastQueuedReadsAndWaits)->Arg(1)->Arg(0)->UseManualTime();

// The usual application: WaitCommEvent(EV_RXCHAR) and reads of one sentence.
void BM_BroadcastRxcharWaitsAndSentenceReads(benchmark::State& state) {
    Setup setup(80, SERIAL_EV_RXCHAR);
    uint64_t allocations = 0;
    for (auto _ : state) {
        setup.Requeue();
        const uint64_t before = usermode::Allocations().allocations;
        state.SetIterationTime(TimedBroadcast(setup));
        allocations += usermode::Allocations().allocations - before;
    }
    Report(state, allocations);
}
BENCHMARK(BM_BroadcastRxcharWaitsAndSentenceReads)->UseManualTime();

} // namespace
} // namespace tavro::driver

BENCHMARK_MAIN();
