// The GPS search on the system's threads and events: many threads ending at once, several
// finding a receiver at once, and a cancel while they wait.
// Meant to run under ThreadSanitizer as well (the tsan preset).
#include "tests/engine/SearchFixture.h"

#include "hub/engine/SearchProgress.h"
#include "platform/ErrorCodes.h"
#include "platform/Threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tavro::testing {
namespace {

using namespace std::chrono_literals;
using platform::testing::FakeSerialDevice;

// Polls `condition` until it holds or `limit` passes (a liveness guard, not a measurement).
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = 20s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class ThreadedSearch : public HubFixture {
protected:
    ThreadedSearch() : search_(hub_, portMap_, &platform::SystemThreads()) {}

    // Adds COM first .. last to the map, each device set up by `script`.
    template <typename Script>
    void Ports(uint32_t first, uint32_t last, Script script) {
        std::vector<int32_t> numbers;
        for (uint32_t com = first; com <= last; ++com) {
            numbers.push_back(static_cast<int32_t>(com));
            script(com, ports_.Add(com));
        }
        portMap_.Set(numbers);
    }

    bool AllClosed(uint32_t first, uint32_t last) {
        for (uint32_t com = first; com <= last; ++com) {
            if (ports_.Find(com)->OpenHandles() != 0) {
                return false;
            }
        }
        return true;
    }

    uint8_t State(uint32_t com) const { return hub_.search.portScanState[com].load(); }

    platform::testing::FakeSerialPortMap portMap_;
    GpsSearch search_;
};

TEST(SystemEvent, ReleasesOneWaiterAndResetsItself) {
    std::unique_ptr<platform::Event> event = platform::SystemThreads().NewEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_FALSE(event->Wait(0)) << "created not signalled";
    EXPECT_FALSE(event->Wait(20)) << "a wait that times out";
    event->Set();
    event->Set(); // a second set of a set event changes nothing
    EXPECT_TRUE(event->Wait(0));
    EXPECT_FALSE(event->Wait(0)) << "reset by the wait that saw it";

    // Two threads wait; each set releases one of them.
    struct Waiter final : platform::ThreadBody {
        uint32_t Run() override {
            if (event->Wait(20000)) {
                ++woken;
            }
            ++ended;
            return 0;
        }
        platform::Event* event = nullptr;
        std::atomic<int> woken{0};
        std::atomic<int> ended{0};
    } waiter;
    waiter.event = event.get();
    ASSERT_TRUE(platform::SystemThreads().StartThread(waiter, 8192));
    ASSERT_TRUE(platform::SystemThreads().StartThread(waiter, 8192));
    std::this_thread::sleep_for(50ms); // let both reach their wait
    event->Set();
    ASSERT_TRUE(Eventually([&] { return waiter.woken.load() == 1; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(waiter.woken.load(), 1) << "one set, one waiter released";
    event->Set();
    ASSERT_TRUE(Eventually([&] { return waiter.ended.load() == 2; }));
    EXPECT_EQ(waiter.woken.load(), 2);
}

TEST_F(ThreadedSearch, TwoHundredFiftyFiveThreadsEndingAtOnceLoseNoCount) {
    Ports(1, 255, [](uint32_t, FakeSerialDevice& device) {
        device.FailOpen(error::accessDenied); // every thread ends right after its open
    });
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(search_.StartSearch()) << "round " << round;
        search_.WaitForThreads();
        EXPECT_EQ(hub_.search.scanThreadCount.load(), 0u);
        for (uint32_t com = 1; com <= 255; ++com) {
            ASSERT_EQ(State(com), 0) << "COM" << com;
        }
        EXPECT_TRUE(search_.ReleaseFinished());
    }
    EXPECT_EQ(ports_.OpenAttempts(), 5u * 255u);
}

TEST_F(ThreadedSearch, WhenSeveralPortsFindAStreamAtOnceThePortAndSpeedAreOneThreads) {
    // COM n is a receiver at speedTable[n % 7] with garbage at the other speeds.
    Ports(1, 40, [](uint32_t com, FakeSerialDevice& device) {
        DeliverAtSpeed(device, speedTable[com % speedTableCount], rmc + gga,
                       Garbage(120, static_cast<uint8_t>(com)));
    });
    for (int round = 0; round < 10; ++round) {
        ASSERT_TRUE(search_.StartSearch());
        char progress[searchProgressSize];
        while (search_.ThreadsRunning()) {
            FormatSearchProgress(hub_.search, progress); // the main window reads meanwhile
        }
        search_.WaitForThreads();
        const uint32_t port = hub_.search.FoundPort();
        ASSERT_GE(port, 1u);
        ASSERT_LE(port, 40u);
        EXPECT_EQ(hub_.search.FoundBaud(), speedTable[port % speedTableCount]) << "COM" << port;
        EXPECT_EQ(State(port), 2 + port % speedTableCount);
        EXPECT_TRUE(AllClosed(1, 40));
    }
}

TEST_F(ThreadedSearch, ACancelWhileThreadsWaitEndsThemAllAndClosesEveryPort) {
    // Each port hears a little garbage: its thread would wait 1.3 s at every speed.
    Ports(1, 32, [](uint32_t, FakeSerialDevice& device) { DeliverAlways(device, Garbage(20)); });
    ASSERT_TRUE(search_.StartSearch());
    ASSERT_TRUE(Eventually([&] {
        for (uint32_t com = 1; com <= 32; ++com) {
            if (State(com) < 2) {
                return false;
            }
        }
        return true;
    })) << "every thread has its port";

    // Held exclusively meanwhile: nobody else gets in.
    uint32_t openError = 0;
    EXPECT_EQ(ports_.Open(7, platform::SerialSharing::ReadWrite, openError), nullptr);
    EXPECT_EQ(openError, error::accessDenied);

    search_.CancelSearch();
    ASSERT_TRUE(Eventually([&] { return !search_.ThreadsRunning(); }));
    for (uint32_t com = 1; com <= 32; ++com) {
        EXPECT_EQ(State(com), 0) << "COM" << com << " ends as a silent port";
    }
    EXPECT_TRUE(AllClosed(1, 32));
    EXPECT_EQ(hub_.search.FoundPort(), 0u);
    EXPECT_TRUE(search_.ReleaseFinished());
    std::unique_ptr<platform::SerialPort> again =
        ports_.Open(7, platform::SerialSharing::None, openError);
    EXPECT_NE(again, nullptr) << "the port is free again";
}

} // namespace
} // namespace tavro::testing
