// A whole hub engine for the power handling: the hub of HubEngineFixture (receiver on COM3 at
// 4800, the driver in process with COM7 and COM8, fakes around it) plus a scripted present-USB
// device set, a recording display switch, dated track logs on a file system in memory
// ("LogPath" C:\GPSLog\Gps) and deferred search threads. Ticks are driven by hand.
#pragma once

#include "hub/engine/FileTrackLog.h"
#include "hub/engine/PowerEvents.h"
#include "platform/testing/FakeThreads.h"
#include "platform/testing/FakeUsbDevices.h"
#include "platform/testing/MemoryFileSystem.h"
#include "platform/testing/RecordingDisplayPower.h"
#include "tests/engine/HubEngineFixture.h"
#include "tests/engine/SearchScripts.h"

#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tavro::testing {

// WM_POWERBROADCAST wParam values.
inline constexpr uintptr_t queryStandby = 1;
inline constexpr uintptr_t querySuspend = 0;
inline constexpr uintptr_t querySuspendFailed = 2;
inline constexpr uintptr_t suspend = 4;
inline constexpr uintptr_t standby = 5;
inline constexpr uintptr_t resumeCritical = 6;
inline constexpr uintptr_t resumeSuspend = 7;
inline constexpr uintptr_t resumeStandby = 8;

// Devices of the set (class tag 0x36 unless a test says otherwise).
inline constexpr uint8_t usbClass = 0x36;

class PowerFixture : public ::testing::Test {
protected:
    PowerFixture()
        : driver_({firstVirtualCom, firstVirtualCom + 1, 0, 0, 0, 0, 0, 0}),
          control_(driver_.Control()), receiver_(ports_.Add(receiverCom)),
          files_(platform::PathStyle::Windows), trackLog_(files_),
          engine_(HubServices{{ports_, control_, memory_, clock_, timing_},
                              registry_,
                              portMap_,
                              tray_,
                              sound_,
                              notifier_,
                              window_,
                              mainWindow_,
                              &trackLog_,
                              &threads_,
                              nullptr,
                              &usb_,
                              &display_}) {
        StoreNumber("Port", receiverCom);
        StoreNumber("Baud", 4800);
        StoreText("LogPath", "C:\\GPSLog\\Gps");
        files_.AddDirectory("C:");
        portMap_.Set({receiverCom});
    }
    ~PowerFixture() override { EndFakeThreads(threads_, Hub().search); }

    void WithKey(const std::function<void(platform::RegistryKey)>& write) {
        platform::ScopedRegistryKey key(registry_);
        ASSERT_EQ(
            registry_.CreateKey(platform::RegistryKey::currentUser, settingsKeyPath, key.Receive()),
            error::success);
        write(key.Get());
    }
    void StoreNumber(const char* name, uint32_t value) {
        WithKey([&](platform::RegistryKey key) {
            ASSERT_EQ(registry_.SetValue(key, name, platform::regDword, &value, sizeof value),
                      error::success);
        });
    }
    void StoreText(const char* name, const char* text) {
        WithKey([&](platform::RegistryKey key) {
            ASSERT_EQ(registry_.SetValue(key, name, platform::regSz, text,
                                         static_cast<uint32_t>(strlen(text))),
                      error::success);
        });
    }
    // "Dev<n>": a device ticked for restart, as the main window stores it.
    void StoreDevice(uint32_t n, uint32_t devInst, uint8_t classTag = usbClass) {
        uint8_t value[deviceValueSize];
        EncodeDeviceValue(platform::testing::FakeUsbDevices::Record(classTag, devInst), value);
        const std::string name = "Dev" + std::to_string(n);
        WithKey([&](platform::RegistryKey key) {
            ASSERT_EQ(
                registry_.SetValue(key, name.c_str(), platform::regBinary, value, sizeof value),
                error::success);
        });
    }
    // A present USB device of class usbClass.
    DeviceInfoData PlugIn(uint32_t devInst, const std::string& description = "USB Device") {
        return usb_.Add({usbClass, devInst, description, "usbser"});
    }
    // "Sync" as stored before the start.
    void StoreOptions(uint32_t optionFlags) { StoreNumber("Sync", optionFlags); }

    // Process entry up to the first tick: the static start-up, the device set, WM_INITDIALOG
    // (hidden: no main window, so the first open comes 50 ticks after the start).
    void Start() {
        engine_.SetStartHidden(true);
        engine_.StaticAttach();
        engine_.MakeUsbDeviceSet();
        ASSERT_EQ(engine_.InitDialog(), 1);
    }
    // Started, the input port open, the video countdown over (100 ticks).
    void StartAndSettle() {
        Start();
        Tick(videoCountdownStart);
        ASSERT_TRUE(Hub().InputPortOpen());
        ASSERT_EQ(Hub().loop.videoCountdown, 0u);
        usb_.ClearChanges();
        display_.Clear();
    }

    void Tick(uint32_t count = 1) {
        for (uint32_t i = 0; i < count; ++i) {
            engine_.Tick();
        }
    }
    // Ticks `count` times; each display switch with the tick (1, 2, … from now) that sent it.
    std::vector<std::pair<uint32_t, platform::DisplayState>> TickAndWatchDisplay(uint32_t count) {
        std::vector<std::pair<uint32_t, platform::DisplayState>> seen;
        size_t known = display_.Calls().size();
        for (uint32_t tick = 1; tick <= count; ++tick) {
            Tick();
            for (; known < display_.Calls().size(); ++known) {
                seen.emplace_back(tick, display_.Calls()[known]);
            }
        }
        return seen;
    }

    void Power(uintptr_t wParam) { engine_.PowerBroadcast(wParam); }

    HubContext& Hub() { return engine_.Context(); }
    // Opens of the receiver's port so far (successful or not).
    uint32_t ReceiverOpens() const { return ports_.OpenAttempts(); }
    RestartDevice& Record(uint32_t n) { return engine_.RestartDevices()[n]; }

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
    platform::testing::FakeSerialDevice& receiver_;
    platform::testing::MemoryFileSystem files_;
    FileTrackLog trackLog_;
    platform::testing::FakeThreads threads_{platform::testing::FakeThreads::Start::Deferred};
    platform::testing::FakeUsbDevices usb_;
    platform::testing::RecordingDisplayPower display_;
    HubEngine engine_;
};

} // namespace tavro::testing
