// The hub engine with its driver installer: the static start-up that starts an installed
// service, the check of the program file when the message window starts, and "Enable Ports"
// with the settings saved behind it (the autostart entry follows the ports).
#include "InstallerFixture.h"

#include "hub/engine/HubEngine.h"
#include "hub/settings/SettingsStore.h"
#include "tests/engine/HubEngineFixture.h"

namespace tavro::testing {
namespace {

using Strings = std::vector<std::string>;

// The autostart value holds the program path with its terminator.
const std::string programPathWithTerminator = programPath + std::string(1, '\0');

class HubWithInstaller : public InstallerFixture {
protected:
    HubWithInstaller()
        : engine_(HubServices{{ports_, driver_, memory_, clock_, timing_},
                              registry_,
                              portMap_,
                              tray_,
                              sound_,
                              notifier_,
                              window_,
                              mainWindow_,
                              nullptr,
                              nullptr,
                              &setup_}) {
        StoreSetting("Baud", 4800);
        StoreSetting("Port0", 5);
        StoreSetting("Port1", 7);
    }

    void StoreSetting(const char* name, uint32_t value) {
        platform::ScopedRegistryKey key(memoryRegistry_);
        ASSERT_EQ(memoryRegistry_.CreateKey(platform::RegistryKey::currentUser, settingsKeyPath,
                                            key.Receive()),
                  error::success);
        ASSERT_EQ(
            memoryRegistry_.SetValue(key.Get(), name, platform::regDword, &value, sizeof value),
            error::success);
    }

    // The text of a REG_SZ or the number of a REG_DWORD under HKCU `path`; "missing" when the
    // value is not there.
    std::string Stored(const char* path, const char* name) {
        platform::ScopedRegistryKey key(memoryRegistry_);
        if (memoryRegistry_.OpenKey(platform::RegistryKey::currentUser, path, key.Receive()) !=
            error::success) {
            return "missing";
        }
        char data[300] = {};
        uint32_t size = sizeof data - 1;
        uint32_t type = 0;
        if (memoryRegistry_.QueryValue(key.Get(), name, &type, data, &size) != error::success) {
            return "missing";
        }
        if (type == platform::regDword) {
            uint32_t number = 0;
            memcpy(&number, data, sizeof number);
            return std::to_string(number);
        }
        return std::string(data, size);
    }

    void Start(bool hidden = false) {
        engine_.SetStartHidden(hidden);
        engine_.StaticAttach();
        EXPECT_EQ(engine_.InitDialog(), 1);
    }

    HubContext& Hub() { return engine_.Context(); }

    DriverSetup setup_{files_, services_};
    platform::testing::FakeSerialPorts ports_;
    InMemorySharedMemory memory_;
    platform::RecordingSystemClock clock_;
    platform::testing::FakeTiming timing_;
    platform::testing::FakeSerialPortMap portMap_;
    platform::testing::RecordingTray tray_;
    platform::testing::RecordingSound sound_;
    RecordingMessageWindow window_;
    RecordingMainWindow mainWindow_;
    HubEngine engine_;
};

TEST_F(HubWithInstaller, AServiceLeftInstalledIsStartedBeforeTheHubAndKeepsItInTheTray) {
    InstallStoppedService(5, 7);
    Start();
    EXPECT_EQ(Hub().loop.driverPresent, 1);
    EXPECT_EQ(services_.CountCalls("Start"), 1u);
    EXPECT_TRUE(Hub().exchange.DeviceOpen());
    EXPECT_EQ(mainWindow_.creates, 0u);
    EXPECT_TRUE(Messages().empty());

    // The timer loop's exchanges go to the started driver.
    engine_.Tick();
    EXPECT_EQ(Hub().exchange.block.version, driverInterfaceVersion);
    EXPECT_TRUE(Hub().exchange.DeviceOpen());
}

TEST_F(HubWithInstaller, WithoutADriverTheMainWindowOpensAndThePackageIsChecked) {
    Start();
    EXPECT_EQ(Hub().loop.driverPresent, 0);
    EXPECT_EQ(mainWindow_.creates, 1u);
    // The check-only extraction: "Version" and "Sum" recorded, no file written.
    EXPECT_EQ(Hub().settings.version, 304u);
    EXPECT_EQ(Hub().settings.sum,
              PackageSum(reinterpret_cast<const uint8_t*>(program_.data()), packageFirstPiece));
    EXPECT_FALSE(files_.HasFile(driverFile));
    EXPECT_TRUE(Messages().empty());
}

TEST_F(HubWithInstaller, ABareProgramIsReportedWhenTheMessageWindowStarts) {
    SetProgram(HubImage(hubSize));
    Start(true);
    EXPECT_EQ(Messages(), Strings{"Error: Unable to find Tavro.sys in archive"});
}

TEST_F(HubWithInstaller, EnablingSavesTheSettingsWithTheAutostartEntryAndDisablingRemovesIt) {
    Start(true);
    ASSERT_FALSE(Hub().exchange.DeviceOpen());

    EXPECT_TRUE(engine_.EnablePorts());
    EXPECT_TRUE(Hub().exchange.DeviceOpen());
    EXPECT_EQ(driver_.ComNumbers()[0], 5u);
    EXPECT_EQ(driver_.ComNumbers()[1], 7u);
    EXPECT_EQ(Stored(runKeyPath, autostartValueName), programPathWithTerminator);
    EXPECT_EQ(Stored(settingsKeyPath, "Version"), "304");
    // The running ports' numbers count as taken, as the serial port map would list them.
    EXPECT_TRUE(Hub().comDbBitmap.IsTaken(5));
    EXPECT_TRUE(Hub().comDbBitmap.IsTaken(7));
    EXPECT_FALSE(Hub().comDbBitmap.IsTaken(6));

    engine_.Tick();
    EXPECT_TRUE(engine_.DisablePorts());
    EXPECT_FALSE(Hub().comDbBitmap.IsTaken(5));
    EXPECT_FALSE(Hub().comDbBitmap.IsTaken(7));
    EXPECT_FALSE(Hub().exchange.DeviceOpen());
    EXPECT_FALSE(ServiceInstalled());
    EXPECT_EQ(Stored(runKeyPath, autostartValueName), "missing");
    EXPECT_TRUE(Messages().empty());
}

TEST_F(HubWithInstaller, AFailedExtractionSavesNothing) {
    SetProgram(HubImage(hubSize));
    Start(true);
    notifier_.Clear();
    EXPECT_FALSE(engine_.EnablePorts());
    EXPECT_EQ(Messages(), Strings{"Error: Unable to find Tavro.sys in archive"});
    EXPECT_EQ(Stored(settingsKeyPath, "Version"), "missing");
    EXPECT_EQ(Stored(runKeyPath, autostartValueName), "missing");
}

TEST(HubWithoutInstaller, HasNoPortsToEnable) {
    platform::testing::FakeSerialPorts ports;
    driver::usermode::InProcessDriver driver({5, 0, 0, 0, 0, 0, 0, 0});
    InMemorySharedMemory memory;
    platform::RecordingSystemClock clock;
    platform::testing::FakeTiming timing;
    platform::MemoryRegistry registry;
    platform::testing::FakeSerialPortMap portMap;
    platform::testing::RecordingTray tray;
    platform::testing::RecordingSound sound;
    platform::testing::RecordingNotifier notifier;
    RecordingMessageWindow window;
    RecordingMainWindow mainWindow;
    HubEngine engine(HubServices{{ports, driver.Control(), memory, clock, timing},
                                 registry,
                                 portMap,
                                 tray,
                                 sound,
                                 notifier,
                                 window,
                                 mainWindow});
    EXPECT_TRUE(engine.StaticAttach());
    EXPECT_FALSE(engine.DisablePorts());
    EXPECT_TRUE(engine.Context().exchange.DeviceOpen());
    engine.Context().exchange.device.Close();
    EXPECT_FALSE(engine.EnablePorts());
    EXPECT_TRUE(notifier.Messages().empty());
}

} // namespace
} // namespace tavro::testing
