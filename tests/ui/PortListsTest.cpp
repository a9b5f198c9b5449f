// The port lists of the main window: what the input and virtual port lists offer with the
// ports disabled and enabled, the numbers they reset or give by default, and the checks on a
// number chosen for a virtual port.
#include "MainWindowFixture.h"

namespace tavro::testing {
namespace {

using Strings = std::vector<std::string>;

class PortListsTest : public MainWindowFixture {
protected:
    // COM2 and COM4 … COM255, after the empty entry: what the virtual lists offer when the map
    // names COM1 and COM3.
    static Strings FreeOfOneAndThree() {
        Strings entries{"", "COM2"};
        for (uint32_t n = 4; n <= 255; ++n) {
            entries.push_back("COM" + std::to_string(n));
        }
        return entries;
    }

    uint32_t VirtualPort(uint32_t k) { return Hub().exchange.block.comNumber[k]; }
};

TEST_F(PortListsTest, WithThePortsDisabledRealPortsAreInputsAndTheRestAreFree) {
    StoreUsualSettings();
    portMap_.Set({1, 3});
    Start();
    Strings inputs{""};
    for (const std::string& entry : ComEntries({1, 3})) {
        inputs.push_back(entry);
    }
    EXPECT_EQ(mainWindow_.Entries(control::inputPort), inputs);
    EXPECT_EQ(mainWindow_.Selected(control::inputPort), "COM3");
    for (uint32_t id = control::firstVirtualPort; id <= control::lastVirtualPort; ++id) {
        EXPECT_EQ(mainWindow_.Entries(id), FreeOfOneAndThree()) << id;
        EXPECT_EQ(mainWindow_.Selected(id), "(none)") << id;
        EXPECT_FALSE(mainWindow_.Disabled(id)) << id;
    }
    EXPECT_EQ(mainWindow_.Entries(control::speed),
              (Strings{"4800", "9600", "19200", "38400", "57600", "115200", "187500"}));
    EXPECT_EQ(mainWindow_.Selected(control::speed), "4800");
    EXPECT_FALSE(mainWindow_.Checked(control::enablePorts));
}

TEST_F(PortListsTest, WithThePortsEnabledTheHubsOwnNumbersAreVirtualNotInputs) {
    StoreUsualSettings();
    StoreSetting("Port0", 5);
    InstallStoppedService(5, 0);
    // The driver's own port is in the map, as the running driver lists it there.
    portMap_.Set({1, 3, 5});
    Start();
    ASSERT_TRUE(Hub().exchange.DeviceOpen());
    ASSERT_FALSE(mainWindow_.exists); // the driver runs: tray only
    engine_.ToggleMainWindow(trayDoubleClick);
    ASSERT_TRUE(mainWindow_.exists);

    EXPECT_EQ(mainWindow_.Entries(control::inputPort), (Strings{"", "COM1", "COM3"}));
    const Strings virtualEntries = mainWindow_.Entries(control::firstVirtualPort);
    EXPECT_NE(std::find(virtualEntries.begin(), virtualEntries.end(), "COM5"),
              virtualEntries.end());
    EXPECT_EQ(mainWindow_.Selected(control::firstVirtualPort), "COM5");
    EXPECT_EQ(mainWindow_.Selected(control::firstVirtualPort + 1), "(none)");
    EXPECT_TRUE(mainWindow_.Checked(control::enablePorts));
    EXPECT_TRUE(mainWindow_.Disabled(control::firstVirtualPort));
    EXPECT_EQ(VirtualPort(0), 5u);

    // The ticks keep the lists on the numbers the driver reports.
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.Selected(control::firstVirtualPort), "COM5");
    EXPECT_EQ(mainWindow_.Selected(control::firstVirtualPort + 1), "(none)");
}

// A network "Source" heads the input list, selected; the search is not for it; picking a
// serial port makes that the receiver again.
TEST_F(PortListsTest, ANetworkSourceHeadsTheInputListAndAPickedPortReplacesIt) {
    StoreUsualSettings();
    {
        platform::ScopedRegistryKey key(memoryRegistry_);
        ASSERT_EQ(memoryRegistry_.CreateKey(platform::RegistryKey::currentUser, settingsKeyPath,
                                            key.Receive()),
                  error::success);
        const char source[] = "tcp://192.0.2.1:10110";
        ASSERT_EQ(
            memoryRegistry_.SetValue(key.Get(), "Source", platform::regSz, source, sizeof source),
            error::success);
    }
    portMap_.Set({1, 3});
    Start();
    EXPECT_EQ(mainWindow_.Entries(control::inputPort),
              (Strings{"tcp://192.0.2.1:10110", "COM1", "COM3"}));
    EXPECT_EQ(mainWindow_.Selected(control::inputPort), "tcp://192.0.2.1:10110");
    mainWindow_.Click(control::findGps);
    EXPECT_FALSE(engine_.Search().ThreadsRunning());
    EXPECT_EQ(mainWindow_.Text(control::statusLine), "Find GPS: serial receivers only");
    mainWindow_.Choose(control::inputPort, "COM3");
    EXPECT_STREQ(Hub().settings.source, "");
    EXPECT_EQ(Hub().settings.port, 3u);
}

TEST_F(PortListsTest, AStoredNumberThatARealPortNowUsesIsReset) {
    StoreUsualSettings();
    StoreSetting("Port0", 2);
    StoreSetting("Port1", 3);
    portMap_.Set({1, 3});
    Start();
    EXPECT_EQ(VirtualPort(0), 2u);
    EXPECT_EQ(VirtualPort(1), 0u);
    EXPECT_EQ(mainWindow_.Selected(control::firstVirtualPort), "COM2");
    EXPECT_EQ(mainWindow_.Selected(control::firstVirtualPort + 1), "(none)");
}

TEST_F(PortListsTest, AFirstRunGivesVirtualPortOneTheLowestFreeNumberOnly) {
    portMap_.Set({1, 2, 4});
    Start(); // no "Baud" stored
    EXPECT_EQ(VirtualPort(0), 3u);
    EXPECT_EQ(mainWindow_.Selected(control::firstVirtualPort), "COM3");
    for (uint32_t k = 1; k < virtualPortCount; ++k) {
        EXPECT_EQ(VirtualPort(k), 0u) << k;
        EXPECT_EQ(mainWindow_.Selected(control::firstVirtualPort + k), "(none)") << k;
    }
}

TEST_F(PortListsTest, AFirstRunKeepsAVirtualPortOneAlreadyStored) {
    StoreSetting("Port0", 9);
    portMap_.Set({1});
    Start();
    EXPECT_EQ(VirtualPort(0), 9u);
    EXPECT_EQ(mainWindow_.Selected(control::firstVirtualPort), "COM9");
}

TEST_F(PortListsTest, ANumberOfARealPortIsRefusedAndTheListReturnsToTheEmptyEntry) {
    StoreUsualSettings();
    portMap_.Set({1, 3});
    // COM4 exists although the map does not name it; COM6 exists and another program holds it.
    ports_.Add(4);
    ports_.Add(6).FailOpen(error::accessDenied);
    Start();
    mainWindow_.Choose(control::firstVirtualPort, "COM4");
    EXPECT_EQ(Messages(), Strings{"Port in use\nPress Scan to repair arbiter."});
    EXPECT_EQ(VirtualPort(0), 0u);
    EXPECT_EQ(mainWindow_.Selected(control::firstVirtualPort), "");
    // The probe let go of the port at once.
    EXPECT_EQ(ports_.Find(4)->OpenHandles(), 0u);

    mainWindow_.Choose(control::firstVirtualPort, "COM6");
    EXPECT_EQ(Messages().size(), 2u);
    EXPECT_EQ(VirtualPort(0), 0u);
}

TEST_F(PortListsTest, AFreeNumberIsTakenButNeverTwice) {
    StoreUsualSettings();
    portMap_.Set({1, 3});
    Start();
    mainWindow_.Choose(control::firstVirtualPort, "COM2");
    EXPECT_EQ(VirtualPort(0), 2u);
    EXPECT_EQ(mainWindow_.Selected(control::firstVirtualPort), "COM2");

    mainWindow_.Choose(control::firstVirtualPort + 1, "COM2");
    EXPECT_EQ(VirtualPort(1), 0u);
    EXPECT_EQ(mainWindow_.Selected(control::firstVirtualPort + 1), "");
    EXPECT_EQ(VirtualPort(0), 2u);
    EXPECT_TRUE(Messages().empty());

    mainWindow_.Choose(control::firstVirtualPort + 1, "COM7");
    EXPECT_EQ(VirtualPort(1), 7u);
}

TEST_F(PortListsTest, TheEmptyEntryStoresZeroWithoutAProbe) {
    StoreUsualSettings();
    portMap_.Set({1, 3});
    Start();
    mainWindow_.Choose(control::firstVirtualPort, "COM2");
    const uint32_t opens = ports_.OpenAttempts();
    mainWindow_.Choose(control::firstVirtualPort, "");
    EXPECT_EQ(VirtualPort(0), 0u);
    EXPECT_EQ(ports_.OpenAttempts(), opens);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(PortListsTest, AnInputPortTheListDoesNotOfferLeavesItsSelection) {
    StoreUsualSettings();
    portMap_.Set({1, 3});
    Start();
    // A receiver found on a port that appeared after the lists were made.
    Hub().settings.port = 9;
    controller_.BaudChanged();
    EXPECT_EQ(mainWindow_.Selected(control::inputPort), "COM3");
}

} // namespace
} // namespace tavro::testing
