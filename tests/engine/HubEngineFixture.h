// A whole hub engine for tests: the settings in an in-memory registry (input port COM3 at
// 4800), a scripted receiver on COM3, the driver in process with virtual ports COM7 and COM8
// behind a control device that counts its calls, a shared mapping held in memory so readers
// can attach, fake waits, and recording tray, sound, notifier, message window and main window.
// Ticks are driven by hand: the tick count is the test's clock.
#pragma once

#include "common/HubCommand.h"
#include "hub/engine/GpsPort.h"
#include "hub/engine/HubEngine.h"
#include "hub/settings/SettingsStore.h"
#include "hub/time/PulsePerSecond.h"
#include "platform/ErrorCodes.h"
#include "platform/testing/FakeSerialPorts.h"
#include "platform/testing/FakeTiming.h"
#include "platform/testing/MemoryRegistry.h"
#include "platform/testing/RecordingNotifier.h"
#include "platform/testing/RecordingSound.h"
#include "platform/testing/RecordingSystemClock.h"
#include "platform/testing/RecordingTimeService.h"
#include "platform/testing/RecordingTray.h"
#include "sys/usermode/InProcessDriver.h"
#include "tests/support/Nmea.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::testing {

// Named mappings held in this process: a second CreateOrOpen of a name joins the first, as a
// second process joins a Windows mapping. The memory lives as long as this object, so a test
// can look at a block after the hub let go of it. FailWith makes every create and open fail.
class InMemorySharedMemory final : public platform::SharedMemory {
public:
    uint32_t CreateOrOpen(const char* name, uint32_t size, platform::SharedView& view) override {
        if (failure_ != error::success) {
            return failure_;
        }
        auto& memory = mappings_[name];
        const bool existed = !memory.empty();
        if (!existed) {
            memory.assign(size, 0);
        }
        view.data = memory.data();
        view.size = static_cast<uint32_t>(memory.size());
        view.handle = 1;
        return existed ? error::alreadyExists : error::success;
    }
    uint32_t Open(const char* name, platform::SharedView& view) override {
        auto found = mappings_.find(name);
        if (failure_ != error::success || found == mappings_.end()) {
            return error::fileNotFound;
        }
        view.data = found->second.data();
        view.size = static_cast<uint32_t>(found->second.size());
        view.handle = 1;
        return error::success;
    }
    void Close(platform::SharedView& view) override { view = {}; }

    void FailWith(uint32_t code) { failure_ = code; }
    // The block as another program would see it; null when no hub or reader made it.
    GpsSharedStatus* Block() {
        auto found = mappings_.find(statusBlockName);
        return found == mappings_.end() ? nullptr
                                        : reinterpret_cast<GpsSharedStatus*>(found->second.data());
    }

private:
    std::map<std::string, std::vector<uint8_t>> mappings_;
    uint32_t failure_ = error::success;
};

// The driver's control device as the hub sees it, counting what the hub asks of it; it can
// answer with another interface version, as an old driver would.
class CountingControlDevice final : public platform::ControlDevice {
public:
    explicit CountingControlDevice(platform::ControlDevice& driver) : driver_(driver) {}

    uint32_t Open(const char* name) override {
        ++opens;
        if (missing) {
            return error::fileNotFound;
        }
        return driver_.Open(name);
    }
    bool IsOpen() const override { return driver_.IsOpen(); }
    uint32_t Exchange(DriverExchangeBlock& block) override {
        ++exchanges;
        const uint32_t result = driver_.Exchange(block);
        if (version != 0) {
            block.version = version;
        }
        return result;
    }
    uint32_t Broadcast(const uint8_t* bytes, uint32_t length) override {
        broadcast.append(reinterpret_cast<const char*>(bytes), length);
        return driver_.Broadcast(bytes, length);
    }
    uint32_t Traffic(PortTrafficBlock& traffic) override { return driver_.Traffic(traffic); }
    void Close() override { driver_.Close(); }

    bool missing = false; // the driver is not running: every open fails
    uint32_t version = 0; // not 0: the version every exchange reports
    uint32_t opens = 0;
    uint32_t exchanges = 0;
    std::string broadcast; // every byte handed to the virtual ports

private:
    platform::ControlDevice& driver_;
};

class RecordingMessageWindow final : public MessageWindow {
public:
    void Publish() override { calls.push_back("Publish"); }
    void StartTimer(uint32_t periodMs) override {
        calls.push_back("StartTimer " + std::to_string(periodMs));
    }
    void StopTimer() override { calls.push_back("StopTimer"); }
    void AllowCommandsFromLowerIntegrity() override { calls.push_back("AllowCommands"); }

    std::vector<std::string> calls;
};

class RecordingMainWindow final : public MainWindow {
public:
    bool Exists() const override { return exists; }
    void Create() override {
        ++creates;
        exists = true;
    }
    void Destroy() override {
        ++destroys;
        exists = false;
    }
    void PostBaudChanged() override { ++baudChanges; }

    bool exists = false;
    uint32_t creates = 0;
    uint32_t destroys = 0;
    uint32_t baudChanges = 0;
};

// "$<body>*hh\r\n" with the checksum of `body`.
inline std::string Nmea(std::string_view body) {
    return Sentence(body);
}

inline const std::string validRmc =
    Nmea("GPRMC,123519.250,A,4807.038,N,01131.000,E,022.4,084.4,230313,003.1,W");
inline const std::string fix3dGsa = Nmea("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1");
inline const std::string noFixGsa = Nmea("GPGSA,A,1,,,,,,,,,,,,,,,");

inline constexpr uint32_t receiverCom = 3;
inline constexpr uint32_t firstVirtualCom = 7;

// Ticks from the start of the timer to the first open of the input port: idleTicks starts at
// 100 and the port is opened when it reaches 150; 110 when the main window opened at start.
inline constexpr uint32_t ticksToFirstOpen = 50;
inline constexpr uint32_t ticksToFirstOpenWithMainWindow = 40;

class HubEngineFixture : public ::testing::Test {
protected:
    HubEngineFixture()
        : driver_({firstVirtualCom, firstVirtualCom + 1, 0, 0, 0, 0, 0, 0}),
          control_(driver_.Control()), receiver_(ports_.Add(receiverCom)),
          engine_(WithTimeService(HubServices{{ports_, control_, memory_, clock_, timing_},
                                              registry_,
                                              portMap_,
                                              tray_,
                                              sound_,
                                              notifier_,
                                              window_,
                                              mainWindow_},
                                  timeService_, pulse_)) {
        StoreSetting("Port", receiverCom);
        StoreSetting("Baud", 4800);
        // The tick's relay: what these tests were written for. Relay on arrival has its own.
        StoreSetting("Immediate Relay", 0);
    }

    // The time export's services; the pulse has no threads (a fake line has no carrier-detect
    // line unless told, so it is never watched here: PulsePerSecondTest watches one).
    static HubServices WithTimeService(HubServices services,
                                       platform::testing::RecordingTimeService& timeService,
                                       PulsePerSecond& pulse) {
        services.timeService = &timeService;
        services.pulse = &pulse;
        return services;
    }

    void StoreSetting(const char* name, uint32_t value) {
        platform::ScopedRegistryKey key(registry_);
        ASSERT_EQ(
            registry_.CreateKey(platform::RegistryKey::currentUser, settingsKeyPath, key.Receive()),
            error::success);
        ASSERT_EQ(registry_.SetValue(key.Get(), name, platform::regDword, &value, sizeof value),
                  error::success);
    }

    // What the front ends do up to the first tick: the static start-up, then WM_INITDIALOG.
    void Start(bool hidden = false) {
        engine_.SetStartHidden(hidden);
        engine_.StaticAttach();
        EXPECT_EQ(engine_.InitDialog(), 1);
    }

    void Tick(uint32_t count = 1) {
        for (uint32_t i = 0; i < count; ++i) {
            engine_.Tick();
        }
    }

    // `milliseconds` pass, then a tick comes: how a pause the loop waits out ends.
    void TickAfter(uint32_t milliseconds) {
        timing_.Advance(milliseconds);
        Tick();
    }

    // Starts hidden with the driver running and ticks until the input port has been opened.
    void StartAndOpen() {
        Start(true);
        Tick(ticksToFirstOpen);
        ASSERT_TRUE(Hub().InputPortOpen());
    }

    // The receiver sends `bytes`; one tick reads them.
    void Receive(std::string_view bytes) {
        receiver_.QueueInput(bytes);
        Tick();
    }

    void Command(HubCommand code, const void* data = nullptr, uint32_t size = 0) {
        engine_.CopyData(static_cast<uint32_t>(code), data, size);
    }
    void Command(HubCommand code, std::string_view payload) {
        Command(code, payload.data(), static_cast<uint32_t>(payload.size()));
    }

    // An application's handle on a virtual port.
    std::unique_ptr<driver::usermode::ApplicationPort> Application(uint32_t com = firstVirtualCom) {
        uint32_t error = 0;
        auto application = driver_.OpenPort(com, error);
        EXPECT_EQ(error, error::success);
        return application;
    }

    HubContext& Hub() { return engine_.Context(); }
    GpsSharedStatus& Block() { return engine_.Status(); }
    GpsPort& Port() { return *Hub().inputPort; }
    // Opens of the receiver's port so far (successful or not).
    uint32_t ReceiverOpens() const { return ports_.OpenAttempts(); }

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
    platform::testing::RecordingTimeService timeService_;
    PulsePerSecond pulse_{nullptr, &timeService_};
    platform::testing::FakeSerialDevice& receiver_;
    HubEngine engine_;
};

} // namespace tavro::testing
