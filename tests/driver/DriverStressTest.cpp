// Many application threads (readers with mixed time-outs, writers that wait for room and flush,
// waiters, purges, cancels, ring growth, closes) against a hub thread that broadcasts and
// exchanges and a time-out thread. Run under
// ThreadSanitizer in the tsan preset. Every request must end exactly once (a second
// completion aborts), every queued request must end, the counters must return to zero, and no
// reader may ever see a byte the hub did not send.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sys/usermode/UserDriver.h"
#include "sys/usermode/UserServices.h"

namespace tavro::driver::testing {
namespace {

using Clock = std::chrono::steady_clock;
using usermode::UserDriver;

constexpr uint32_t ports[] = {0, 1, 2};
const std::string hubAlphabet = "$GPGGA,0123456789.NSEW*\r\n";
constexpr auto runTime = std::chrono::milliseconds(1500);

struct Counters {
    std::atomic<uint64_t> requests{0};
    std::atomic<uint64_t> bytesRead{0};
    std::atomic<uint64_t> cancelled{0};
    std::atomic<uint64_t> waitEvents{0};
    std::atomic<uint64_t> foreignBytes{0};
    std::atomic<uint64_t> lostRequests{0};
};

class Stress {
public:
    Stress() : driver_({3, 4, 7, 0, 0, 0, 0, 0}) {}

    UserDriver& Driver() { return driver_; }
    Counters& Count() { return counters_; }
    // The run lasts runTime and, on a machine too busy to get far in that time, goes on until
    // every kind of event was seen (at most 30 s).
    bool Running() const {
        const auto now = Clock::now();
        const bool enough = counters_.requests > 1000 && counters_.bytesRead > 0 &&
                            counters_.cancelled > 0 && counters_.waitEvents > 0;
        return now < stop_ || (!enough && now < stop_ + std::chrono::seconds(30));
    }
    void Start() { stop_ = Clock::now() + runTime; }

    // Dispatches and waits for the end; a request still queued after a while is cancelled
    // (or, sometimes, left to the handle's cleanup by returning it unfinished).
    std::unique_ptr<Request> Run(uint32_t port, std::unique_ptr<Request> request,
                                 std::mt19937& random, bool mayLeave = false) {
        ++counters_.requests;
        driver_.Dispatch(driver_.Port(port), *request);
        int spins = static_cast<int>(random() % 200);
        while (!request->Completed() && spins-- > 0) {
            std::this_thread::yield();
        }
        if (!request->Completed()) {
            if (mayLeave && random() % 4 == 0) {
                return request;
            }
            usermode::CancelRequest(*request);
            AwaitEnd(*request);
        }
        if (request->status == status::cancelled) {
            ++counters_.cancelled;
        }
        return request;
    }

    // Once its routine is taken, a cancelled request ends promptly.
    void AwaitEnd(Request& request) {
        auto limit = Clock::now() + std::chrono::seconds(20);
        while (!request.Completed()) {
            if (Clock::now() > limit) {
                ++counters_.lostRequests;
                return;
            }
            std::this_thread::yield();
        }
    }

private:
    UserDriver driver_;
    Counters counters_;
    Clock::time_point stop_;
};

void Hub(Stress& stress, uint32_t seed) {
    std::mt19937 random(seed);
    FileObject hub;
    auto open = MakeCreate(hub);
    stress.Driver().Dispatch(stress.Driver().Control(), *open);
    std::string chunk;
    while (stress.Running()) {
        chunk.clear();
        size_t length = 1 + random() % 510;
        for (size_t i = 0; i < length; ++i) {
            chunk.push_back(hubAlphabet[random() % hubAlphabet.size()]);
        }
        stress.Driver().Broadcast(chunk.data(), static_cast<uint32_t>(chunk.size()));
        if (random() % 3 == 0) {
            DriverExchangeBlock input{};
            input.readOnly = random() % 2;
            DriverExchangeBlock block;
            EXPECT_EQ(stress.Driver().Exchange(block, &input), status::success);
            EXPECT_LE(block.clientDataLength, 1024u);
            usermode::AdvanceMilliseconds(random() % 80);
        }
    }
}

struct Handle {
    uint32_t port = 0;
    FileObject file;
    std::vector<std::unique_ptr<Request>> left; // queued requests left to the cleanup
};

void OpenHandle(Stress& stress, Handle& handle, std::mt19937& random) {
    handle.port = ports[random() % std::size(ports)];
    auto create = MakeCreate(handle.file);
    ++stress.Count().requests;
    ASSERT_EQ(stress.Driver().Dispatch(stress.Driver().Port(handle.port), *create),
              status::success);
}

void CloseHandle(Stress& stress, Handle& handle) {
    for (const char* step : {"cleanup", "close"}) {
        auto request = MakeSimple(std::strcmp(step, "cleanup") == 0 ? MajorFunction::Cleanup
                                                                    : MajorFunction::Close,
                                  handle.file);
        ++stress.Count().requests;
        EXPECT_EQ(stress.Driver().Dispatch(stress.Driver().Port(handle.port), *request),
                  status::success);
        if (std::strcmp(step, "cleanup") == 0) {
            // Close comes only once every request of the handle has ended.
            for (auto& left : handle.left) {
                stress.AwaitEnd(*left);
                EXPECT_EQ(left->completions.load(), 1);
            }
            handle.left.clear();
        }
    }
}

void SetTimeouts(Stress& stress, Handle& handle, std::mt19937& random) {
    static const SERIAL_TIMEOUTS choices[] = {
        {0, 0, 0, 0, 0},
        {maxDword, 0, 0, 0, 0},
        {maxDword, maxDword, 20, 0, 0},
        {0, 1, 30, 0, 0},
        {15, 0, 0, 0, 0},
        {0, 0, maxDword - 1, 0, 0},
        {maxDword, maxDword, 0, 0, 0},
        {1, 0, 0, 1, 20},
    };
    const SERIAL_TIMEOUTS& timeouts = choices[random() % std::size(choices)];
    stress.Run(
        handle.port,
        MakeDeviceControl(handle.file, IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof timeouts, 0),
        random);
}

void Reader(Stress& stress, uint32_t seed) {
    std::mt19937 random(seed);
    Handle handle;
    OpenHandle(stress, handle, random);
    SetTimeouts(stress, handle, random);
    while (stress.Running()) {
        switch (random() % 12) {
        case 0: {
            uint32_t mask = random() % 2 == 0 ? SERIAL_PURGE_RXCLEAR
                                              : SERIAL_PURGE_RXCLEAR | SERIAL_PURGE_RXABORT;
            stress.Run(handle.port, MakeDeviceControl(handle.file, IOCTL_SERIAL_PURGE, &mask, 4, 0),
                       random);
            break;
        }
        case 1:
            SetTimeouts(stress, handle, random);
            break;
        case 2:
            if (random() % 8 == 0) {
                SERIAL_QUEUE_SIZE sizes{static_cast<uint32_t>(random() % 20000), 0};
                stress.Run(handle.port,
                           MakeDeviceControl(handle.file, IOCTL_SERIAL_SET_QUEUE_SIZE, &sizes,
                                             sizeof sizes, 0),
                           random);
            }
            break;
        case 3:
            if (random() % 4 == 0) {
                CloseHandle(stress, handle);
                handle = Handle{};
                OpenHandle(stress, handle, random);
                SetTimeouts(stress, handle, random);
            }
            break;
        default: {
            auto read =
                stress.Run(handle.port, MakeRead(handle.file, 1 + random() % 300), random, true);
            if (!read->Completed()) {
                handle.left.push_back(std::move(read));
                break;
            }
            if (read->status == status::success) {
                stress.Count().bytesRead += read->information;
                for (uint32_t i = 0; i < read->information; ++i) {
                    if (hubAlphabet.find(static_cast<char>(read->buffer[i])) == std::string::npos) {
                        ++stress.Count().foreignBytes;
                    }
                }
            }
            break;
        }
        }
    }
    CloseHandle(stress, handle);
}

void Waiter(Stress& stress, uint32_t seed) {
    std::mt19937 random(seed);
    Handle handle;
    OpenHandle(stress, handle, random);
    const SERIAL_CHARS chars{0, 0, 0, '\n', 0x11, 0x13};
    stress.Run(handle.port,
               MakeDeviceControl(handle.file, IOCTL_SERIAL_SET_CHARS, &chars, sizeof chars, 0),
               random);
    while (stress.Running()) {
        static const uint32_t masks[] = {SERIAL_EV_RXFLAG, SERIAL_EV_RXCHAR | SERIAL_EV_RXFLAG,
                                         SERIAL_EV_ERR | SERIAL_EV_RXFLAG};
        uint32_t mask = masks[random() % std::size(masks)];
        stress.Run(handle.port,
                   MakeDeviceControl(handle.file, IOCTL_SERIAL_SET_WAIT_MASK, &mask, 4, 0), random);
        auto wait = MakeDeviceControl(handle.file, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 4);
        if (random() % 5 == 0) {
            // A new mask from another thread completes the queued wait.
            ++stress.Count().requests;
            stress.Driver().Dispatch(stress.Driver().Port(handle.port), *wait);
            std::thread setter([&] {
                uint32_t other = SERIAL_EV_RXCHAR;
                std::mt19937 own(seed + 1);
                stress.Run(handle.port,
                           MakeDeviceControl(handle.file, IOCTL_SERIAL_SET_WAIT_MASK, &other, 4, 0),
                           own);
            });
            setter.join();
            stress.AwaitEnd(*wait);
            continue;
        }
        wait = stress.Run(handle.port, std::move(wait), random, true);
        if (!wait->Completed()) {
            handle.left.push_back(std::move(wait));
            CloseHandle(stress, handle);
            handle = Handle{};
            OpenHandle(stress, handle, random);
            stress.Run(
                handle.port,
                MakeDeviceControl(handle.file, IOCTL_SERIAL_SET_CHARS, &chars, sizeof chars, 0),
                random);
        } else if (wait->status == status::success && wait->information == 4) {
            ++stress.Count().waitEvents;
        }
    }
    CloseHandle(stress, handle);
}

// Writes wait for room while the hub collects; some are cut short by their time-out, cancelled,
// or aborted by a purge; flushes wait for the hub too.
void Writer(Stress& stress, uint32_t seed) {
    std::mt19937 random(seed);
    Handle handle;
    OpenHandle(stress, handle, random);
    std::string bytes;
    while (stress.Running()) {
        switch (random() % 8) {
        case 0: {
            const SERIAL_TIMEOUTS timeouts{0, 0, 0, static_cast<uint32_t>(random() % 2),
                                           static_cast<uint32_t>(random() % 30)};
            stress.Run(handle.port,
                       MakeDeviceControl(handle.file, IOCTL_SERIAL_SET_TIMEOUTS, &timeouts,
                                         sizeof timeouts, 0),
                       random);
            break;
        }
        case 1: {
            auto flush = stress.Run(
                handle.port, MakeSimple(MajorFunction::FlushBuffers, handle.file), random, true);
            if (!flush->Completed()) {
                handle.left.push_back(std::move(flush));
            }
            break;
        }
        case 2: {
            uint32_t mask = SERIAL_PURGE_TXABORT | SERIAL_PURGE_TXCLEAR;
            stress.Run(handle.port, MakeDeviceControl(handle.file, IOCTL_SERIAL_PURGE, &mask, 4, 0),
                       random);
            break;
        }
        default: {
            bytes.assign(1 + random() % 1500, static_cast<char>('a' + random() % 26));
            auto write = stress.Run(
                handle.port,
                MakeWrite(handle.file, bytes.data(), static_cast<uint32_t>(bytes.size())), random,
                true);
            if (!write->Completed()) {
                handle.left.push_back(std::move(write));
                break;
            }
            // A port holds eight waiting writes; one more is refused while the ring is full.
            EXPECT_TRUE(write->status == status::success || write->status == status::cancelled ||
                        write->status == status::insufficientResources)
                << std::hex << write->status;
            EXPECT_LE(write->information, bytes.size());
            break;
        }
        }
    }
    CloseHandle(stress, handle);
}

// The driver's time-out thread: runs the due time-outs while everything else goes on.
void Timeouts(Stress& stress) {
    while (stress.Running()) {
        usermode::RunTimeouts();
        std::this_thread::yield();
    }
}

TEST(DriverStressTest, EveryRequestEndsExactlyOnce) {
    usermode::SetDebugCapture(false);
    usermode::SetMilliseconds(1'000'000);
    auto before = usermode::Allocations();
    {
        Stress stress;
        stress.Start();
        std::vector<std::thread> threads;
        threads.emplace_back(Hub, std::ref(stress), 1u);
        threads.emplace_back(Timeouts, std::ref(stress));
        for (uint32_t i = 0; i < 4; ++i) {
            threads.emplace_back(Reader, std::ref(stress), 100 + i);
        }
        for (uint32_t i = 0; i < 2; ++i) {
            threads.emplace_back(Waiter, std::ref(stress), 200 + i);
            threads.emplace_back(Writer, std::ref(stress), 300 + i);
        }
        for (auto& thread : threads) {
            thread.join();
        }

        Counters& count = stress.Count();
        EXPECT_EQ(count.lostRequests.load(), 0u);
        EXPECT_EQ(count.foreignBytes.load(), 0u) << "a reader saw bytes the hub never sent";
        EXPECT_GT(count.requests.load(), 1000u);
        EXPECT_GT(count.bytesRead.load(), 0u);
        EXPECT_GT(count.cancelled.load(), 0u);
        EXPECT_GT(count.waitEvents.load(), 0u);
        for (uint32_t port : ports) {
            const VirtualPort& record = stress.Driver().Record(port);
            EXPECT_EQ(record.pendingReads, 0) << port;
            EXPECT_EQ(record.pendingWaits, 0) << port;
            EXPECT_EQ(record.openCount, 0) << port;
        }
        std::printf("stress: %llu requests, %llu bytes read, %llu cancelled, %llu wait events\n",
                    static_cast<unsigned long long>(count.requests.load()),
                    static_cast<unsigned long long>(count.bytesRead.load()),
                    static_cast<unsigned long long>(count.cancelled.load()),
                    static_cast<unsigned long long>(count.waitEvents.load()));
    }
    auto after = usermode::Allocations();
    EXPECT_EQ(after.allocations - before.allocations, after.releases - before.releases)
        << "every ring and handle state released";
    usermode::SetDebugCapture(true);
}

} // namespace
} // namespace tavro::driver::testing
