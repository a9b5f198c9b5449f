// The engine with a network "Source" where the edition has no sockets, and the serial-only
// commands and recoveries left alone while a source is set.
#include "HubEngineFixture.h"

#include "hub/engine/TrayStatus.h"

#include <string.h>

#include <string>

namespace tavro::testing {
namespace {

class HubEngineSourceTest : public HubEngineFixture {
protected:
    void StoreSource(const char* source) {
        platform::ScopedRegistryKey key(registry_);
        ASSERT_EQ(
            registry_.CreateKey(platform::RegistryKey::currentUser, settingsKeyPath, key.Receive()),
            error::success);
        ASSERT_EQ(registry_.SetValue(key.Get(), "Source", platform::regSz, source,
                                     static_cast<uint32_t>(strlen(source) + 1)),
                  error::success);
    }
};

TEST_F(HubEngineSourceTest, WithoutSocketsASourceStaysClosedAndTheSerialPortIsNotOpened) {
    StoreSource("tcp://192.0.2.1:10110");
    Start(true);
    Tick(ticksToFirstOpen + 10);
    EXPECT_FALSE(Hub().InputPortOpen());
    EXPECT_EQ(Port().lastOpenError, error::notSupported);
    EXPECT_EQ(ReceiverOpens(), 0u) << "\"Port\" is not read while \"Source\" is set";
    EXPECT_EQ(Block().streamState, static_cast<uint8_t>(StreamState::PortClosed));
}

TEST_F(HubEngineSourceTest, ASpeedChangeIsNoConcernOfANetworkSource) {
    StoreSource("udp://:10110");
    Start(true);
    const uint32_t speed = 9600;
    Command(HubCommand::ChangeBaud, &speed, sizeof speed);
    EXPECT_EQ(Hub().requestedBaud, 0u);
    Tick(ticksToFirstOpen);
    EXPECT_EQ(Hub().settings.baud, 4800u);
}

TEST_F(HubEngineSourceTest, TheTrayTipNamesTheSourceCutInTheMiddleToFit) {
    StoreSource("tcp://192.0.2.1:10110");
    Start(true);
    Tick(ticksToFirstOpen);
    EXPECT_EQ(tray_.Calls().back().tip, "Not connected - tcp://192.0.2.1:10110");

    // The longest "Source" there is, behind the longest status tip.
    const std::string source = "gpsd://" + std::string(103, 'h') + ":2947/dev/ttyUSB0";
    ASSERT_EQ(source.size(), sourceSize - 1);
    char tip[trayTipSize];
    FormatTrayTip("Not connected", source.c_str(), tip);
    EXPECT_EQ(std::string(tip), "Not connected - gpsd://" + std::string(47, 'h') + "..." +
                                    std::string(37, 'h') + ":2947/dev/ttyUSB0");
    EXPECT_EQ(strlen(tip), platform::trayTipMax);
}

} // namespace
} // namespace tavro::testing
