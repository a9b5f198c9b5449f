// The GPS search inside the hub engine: the port map scan at the message window's start, the
// device-change countdown that starts a search, the timer loop while a search runs and after
// it ends, and the shutdown during a search.
#include "tests/engine/HubEngineFixture.h"
#include "tests/engine/SearchScripts.h"

#include "hub/engine/GpsSearch.h"
#include "platform/Threads.h"
#include "platform/testing/FakeThreads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace tavro::testing {
namespace {

using platform::testing::FakeSerialDevice;
using platform::testing::FakeThreads;

constexpr uint32_t foundCom = 5;

class SearchInTheHub : public ::testing::Test {
protected:
    explicit SearchInTheHub(bool systemThreads = false)
        : driver_({firstVirtualCom, firstVirtualCom + 1, 0, 0, 0, 0, 0, 0}),
          control_(driver_.Control()), receiver_(ports_.Add(receiverCom)),
          engine_(HubServices{{ports_, control_, memory_, clock_, timing_},
                              registry_,
                              portMap_,
                              tray_,
                              sound_,
                              notifier_,
                              window_,
                              mainWindow_,
                              nullptr,
                              systemThreads ? &platform::SystemThreads() : &threads_}) {
        StoreSetting("Port", receiverCom);
        StoreSetting("Baud", 4800);
        // COM3 (the configured input) is a receiver at 4800; COM5 one at 9600.
        DeliverAtSpeed(receiver_, 4800, rmc_, Garbage(100));
        DeliverAtSpeed(ports_.Add(foundCom), 9600, rmc_, Garbage(100));
        portMap_.Set({receiverCom, foundCom});
    }
    ~SearchInTheHub() override { EndFakeThreads(threads_, engine_.Context().search); }

    void StoreSetting(const char* name, uint32_t value) {
        platform::ScopedRegistryKey key(registry_);
        ASSERT_EQ(
            registry_.CreateKey(platform::RegistryKey::currentUser, settingsKeyPath, key.Receive()),
            error::success);
        ASSERT_EQ(registry_.SetValue(key.Get(), name, platform::regDword, &value, sizeof value),
                  error::success);
    }

    void Start() {
        engine_.StaticAttach();
        ASSERT_EQ(engine_.InitDialog(), 1);
    }
    void Tick(uint32_t count = 1) {
        for (uint32_t i = 0; i < count; ++i) {
            engine_.Tick();
        }
    }

    HubContext& Hub() { return engine_.Context(); }
    GpsSearch& Search() { return engine_.Search(); }

    const std::string rmc_ = validRmc;
    platform::testing::FakeSerialPorts ports_;
    driver::usermode::InProcessDriver driver_;
    CountingControlDevice control_;
    InMemorySharedMemory memory_;
    platform::RecordingSystemClock clock_;
    platform::testing::FakeTiming timing_;
    platform::MemoryRegistry registry_;
    platform::testing::FakeSerialPortMap portMap_;
    platform::testing::RecordingTray tray_;
    platform::testing::RecordingSound sound_;
    platform::testing::RecordingNotifier notifier_;
    RecordingMessageWindow window_;
    RecordingMainWindow mainWindow_;
    FakeThreads threads_{FakeThreads::Start::Deferred};
    FakeSerialDevice& receiver_;
    HubEngine engine_;
};

TEST_F(SearchInTheHub, TheMessageWindowsStartRebuildsTheBitmapFromThePortMap) {
    Hub().comDbBitmap.SetComBit(9, true);
    portMap_.Set({1, 4, 0, 300});
    Start();
    for (uint32_t com = 1; com <= 255; ++com) {
        const bool listed = com == 1 || com == 4;
        EXPECT_EQ(Hub().comDbBitmap.IsTaken(com), listed) << "COM" << com;
        EXPECT_EQ(Hub().search.portScanState[com].load(), listed ? 1 : 0) << "COM" << com;
    }
    EXPECT_EQ(threads_.StartCalls(), 0u) << "a scan, not a search";
}

TEST_F(SearchInTheHub, ADeviceChangeWithTheInputPortClosedSearchesHalfASecondLater) {
    receiver_.FailOpen(error::fileNotFound); // the configured receiver is unplugged
    Start();
    Tick(50); // the first open attempt fails
    ASSERT_FALSE(Hub().InputPortOpen());
    engine_.DeviceChanged();
    Tick(5);
    engine_.DeviceChanged(); // a further change starts the countdown again
    Tick(9);
    EXPECT_EQ(Hub().loop.deviceSearchWaiting, 0);
    Tick(); // the port is closed; the tray shows it at the next tick
    EXPECT_EQ(Hub().loop.lastStatus, 5u);
    EXPECT_EQ(threads_.StartCalls(), 0u);
    // The closed port settles for 100 ms on the timer loop, which keeps ticking meanwhile.
    const uint32_t exchanges = control_.exchanges;
    timing_.Advance(99);
    Tick();
    EXPECT_EQ(threads_.StartCalls(), 0u);
    EXPECT_GT(control_.exchanges, exchanges) << "the driver exchange goes on";
    timing_.Advance(1);
    Tick();
    EXPECT_TRUE(timing_.Sleeps().empty());
    EXPECT_EQ(threads_.StartCalls(), 2u) << "COM3 and COM5";
    EXPECT_EQ(Hub().search.scanning.load(), 1);
    threads_.RunDeferred();
    EXPECT_EQ(Hub().search.FoundPort(), foundCom);
    EXPECT_EQ(Hub().search.FoundBaud(), 9600u);

    // Nobody asked for the result: "Port" and "Baud" stay.
    Tick(50);
    EXPECT_EQ(Hub().settings.port, receiverCom);
    EXPECT_EQ(Hub().settings.baud, 4800u);
    EXPECT_EQ(Hub().search.scanning.load(), 0) << "the loop saw the end";
    SearchOutcome outcome;
    EXPECT_FALSE(Search().ApplySearchResult(outcome));
}

TEST_F(SearchInTheHub, ADeviceChangeWhileTheInputPortIsOpenStartsNothing) {
    Start();
    Tick(50);
    ASSERT_TRUE(Hub().InputPortOpen());
    engine_.DeviceChanged();
    EXPECT_EQ(Hub().loop.deviceChangeCountdown, 0u);
    Tick(20);
    EXPECT_EQ(threads_.StartCalls(), 0u);
    EXPECT_TRUE(Hub().InputPortOpen());

    // Nor while it is closed only for a re-open's pause (a speed change, a recovery).
    Hub().inputPort->Close();
    Hub().inputPort->ReopenAfter(GpsPort::Reopen::Settings, 200);
    engine_.DeviceChanged();
    EXPECT_EQ(Hub().loop.deviceChangeCountdown, 0u);
}

TEST_F(SearchInTheHub, ACountdownEndingWhileASearchRunsStartsNoSecondOne) {
    Start();
    ASSERT_TRUE(Search().FindGps()); // the main window's button
    timing_.Advance(100);
    Tick(); // the search starts; its threads are still to run
    const uint32_t started = threads_.StartCalls();
    engine_.DeviceChanged();
    Tick(10);
    EXPECT_EQ(Hub().loop.deviceChangeCountdown, 0u);
    EXPECT_EQ(threads_.StartCalls(), started);
    threads_.RunDeferred();
}

TEST_F(SearchInTheHub, TheLoopNeitherReadsNorLetsGoOfTheSearchUntilItSettled) {
    DeliverAlways(receiver_, Garbage(100)); // the receiver is on COM5 now
    Start();
    Tick(50);
    ASSERT_TRUE(Hub().InputPortOpen());
    ASSERT_TRUE(Search().FindGps());
    EXPECT_FALSE(Hub().InputPortOpen());
    timing_.Advance(100);
    Tick();
    EXPECT_EQ(threads_.EventsAlive(), 2u);
    Tick(3);
    EXPECT_EQ(threads_.EventsAlive(), 2u) << "threads still use the found event";
    threads_.RunDeferred();

    // The main window applies the result: COM5 opens while `scanning` still holds.
    SearchOutcome outcome;
    ASSERT_TRUE(Search().ApplySearchResult(outcome));
    EXPECT_STREQ(outcome.statusText, "GPS on COM5 at 9600");
    ASSERT_TRUE(Hub().InputPortOpen());
    EXPECT_EQ(threads_.EventsAlive(), 1u) << "released when the result was taken";

    FakeSerialDevice& found = *ports_.Find(foundCom);
    found.QueueInput(rmc_);
    Tick();
    EXPECT_EQ(Hub().search.scanning.load(), 1) << "idleTicks below 40";
    EXPECT_EQ(engine_.Status().streamState, static_cast<uint8_t>(StreamState::PortOpen))
        << "not read while the search settles";
    while (Hub().loop.idleTicks < 40) {
        Tick();
    }
    Tick();
    EXPECT_EQ(Hub().search.scanning.load(), 0);
    EXPECT_EQ(engine_.Status().streamState, static_cast<uint8_t>(StreamState::NmeaStream));
}

TEST_F(SearchInTheHub, TheFoundEventIsReleasedWithoutAMainWindow) {
    Start();
    Hub().inputPort->Close();
    engine_.DeviceChanged();
    Tick(10);
    timing_.Advance(100); // the closed port settles
    Tick();
    threads_.RunDeferred();
    EXPECT_EQ(threads_.EventsAlive(), 2u);
    Tick();
    EXPECT_EQ(threads_.EventsAlive(), 1u) << "only the search's own end-of-thread event";
}

class SearchInTheHubOnSystemThreads : public SearchInTheHub {
protected:
    SearchInTheHubOnSystemThreads() : SearchInTheHub(true) {}
};

TEST_F(SearchInTheHubOnSystemThreads, TheHubEndingDuringASearchEndsItsThreadsFirst) {
    DeliverAlways(receiver_, Garbage(20)); // waits out every speed
    DeliverAlways(*ports_.Find(foundCom), Garbage(20));
    Start();
    ASSERT_TRUE(Search().FindGps());
    timing_.Advance(100);
    Tick();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Hub().search.portScanState[foundCom].load() < 2 &&
           std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    engine_.Destroy();
    EXPECT_FALSE(Search().ThreadsRunning());
    EXPECT_EQ(receiver_.OpenHandles(), 0u);
    EXPECT_EQ(ports_.Find(foundCom)->OpenHandles(), 0u);
}

} // namespace
} // namespace tavro::testing
