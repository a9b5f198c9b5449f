// The main window's behaviour on a whole hub: opening and closing (and with it the end of the
// hub), the first run, "Enable Ports", "Find GPS" and its result, the status line, the input
// port and speed lists, the options, the log path and the device list.
#include "MainWindowFixture.h"

#include "hub/settings/RestartDevice.h"

namespace tavro::testing {
namespace {

using Strings = std::vector<std::string>;

class MainWindowTest : public MainWindowFixture {};

// ---- Opening and closing ----------------------------------------------------------------------

TEST_F(MainWindowTest, ClosingWithThePortsDisabledEndsTheHubAndSavesTheSettings) {
    StoreUsualSettings();
    Start();
    ASSERT_TRUE(mainWindow_.exists);
    EXPECT_EQ(mainWindow_.timerPeriod, 200u);
    EXPECT_EQ(StoredNumber("Sync"), -1);

    mainWindow_.Command(control::close, notification::clicked);
    EXPECT_FALSE(mainWindow_.exists);
    EXPECT_EQ(mainWindow_.quits, 1u);
    EXPECT_EQ(StoredNumber("Sync"), 0);
    EXPECT_EQ(StoredNumber("Port"), 3);
}

TEST_F(MainWindowTest, ClosingWithThePortsEnabledKeepsTheHubInTheTray) {
    StoreUsualSettings();
    StoreSetting("Port0", 5);
    Start();
    mainWindow_.Click(control::enablePorts);
    ASSERT_TRUE(Hub().exchange.DeviceOpen());
    tray_.Clear();

    mainWindow_.Command(control::close, notification::clicked);
    EXPECT_FALSE(mainWindow_.exists);
    EXPECT_EQ(mainWindow_.quits, 0u);
    EXPECT_TRUE(tray_.Calls().empty()); // the icon stays
    // The tray opens it again, with the ports shown as they run.
    engine_.ToggleMainWindow(trayDoubleClick);
    EXPECT_TRUE(mainWindow_.exists);
    EXPECT_TRUE(mainWindow_.Checked(control::enablePorts));
    EXPECT_TRUE(mainWindow_.Disabled(control::firstVirtualPort));
}

TEST_F(MainWindowTest, TheHubClosesAnOpenWindowFirstWhenItEnds) {
    StoreUsualSettings();
    Start();
    mainWindow_.Click(control::autoTimeSync);
    engine_.Destroy();
    EXPECT_FALSE(mainWindow_.exists);
    EXPECT_EQ(StoredNumber("Sync"), 0x10);
}

// ---- First run ----------------------------------------------------------------------------------

TEST_F(MainWindowTest, AFirstRunSearchesAndEnablesThePortsOnTheLowestFreeNumber) {
    // No "Baud" stored: the first run. COM1 and COM2 are real ports.
    portMap_.Set({1, 2});
    ports_.Add(1);
    ports_.Add(2);
    Start();
    ASSERT_TRUE(mainWindow_.exists);
    EXPECT_FALSE(Hub().settings.firstRun);

    // The search runs (one thread per real port) and its result will be applied.
    EXPECT_EQ(Hub().search.scanning.load(), 1);
    EXPECT_EQ(threads_.Pending(), 2u);
    EXPECT_EQ(Hub().search.applySearchResult, 1);

    // Virtual port 1 got the lowest free number, and "Enable Ports" is on its way.
    EXPECT_EQ(Hub().exchange.block.comNumber[0], 3u);
    EXPECT_EQ(mainWindow_.Selected(control::firstVirtualPort), "COM3");
    EXPECT_EQ(mainWindow_.posted, std::vector<uint32_t>{control::enablePorts});

    mainWindow_.Pump();
    EXPECT_TRUE(Hub().exchange.DeviceOpen());
    EXPECT_EQ(driver_.ComNumbers()[0], 3u);
    EXPECT_TRUE(mainWindow_.Checked(control::enablePorts));
    for (uint32_t id = control::firstVirtualPort; id <= control::lastVirtualPort; ++id) {
        EXPECT_TRUE(mainWindow_.Disabled(id)) << id;
    }
    EXPECT_TRUE(Messages().empty());
    // Saved with the ports: the next start is no first run, and the hub starts at logon.
    EXPECT_EQ(StoredNumber("Baud"), 4800);
    EXPECT_EQ(StoredNumber("Port0"), 3);
}

// ---- "Enable Ports" -----------------------------------------------------------------------------

TEST_F(MainWindowTest, AFailedEnablingLeavesTheBoxUnticked) {
    StoreUsualSettings();
    StoreSetting("Port0", 5);
    WithoutAdminRights();
    Start();
    notifier_.Clear();                       // the static start-up's attempt to start a service
    mainWindow_.Click(control::enablePorts); // the click ticks the box itself
    EXPECT_FALSE(Hub().exchange.DeviceOpen());
    EXPECT_FALSE(mainWindow_.Checked(control::enablePorts));
    EXPECT_FALSE(mainWindow_.Disabled(control::firstVirtualPort));
    EXPECT_EQ(Messages(), Strings{"Error: You do not have proper rights"});
}

TEST_F(MainWindowTest, DisablingUnlocksTheVirtualPortLists) {
    StoreUsualSettings();
    StoreSetting("Port0", 5);
    Start();
    mainWindow_.Click(control::enablePorts);
    ASSERT_TRUE(mainWindow_.Disabled(control::firstVirtualPort));
    mainWindow_.Click(control::enablePorts);
    EXPECT_FALSE(Hub().exchange.DeviceOpen());
    EXPECT_FALSE(mainWindow_.Checked(control::enablePorts));
    EXPECT_FALSE(mainWindow_.Disabled(control::firstVirtualPort));
    EXPECT_FALSE(ServiceInstalled());
}

// ---- "Find GPS" and the search's result
// -----------------------------------------------------------

TEST_F(MainWindowTest, EscapeDuringASearchCancelsItAndKeepsTheWindow) {
    StoreUsualSettings();
    portMap_.Set({1, 3});
    ports_.Add(1);
    ports_.Add(3);
    Start();
    FindGps();
    ASSERT_TRUE(engine_.Search().ThreadsRunning());
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.Text(control::statusLine), "1 ?, 3 ?, ");
    // A second "Find GPS" while the threads run changes nothing.
    mainWindow_.Click(control::findGps);
    EXPECT_EQ(threads_.Pending(), 2u);

    mainWindow_.Command(control::close, notification::clicked);
    EXPECT_TRUE(mainWindow_.exists);
    EXPECT_EQ(mainWindow_.quits, 0u);
    threads_.RunDeferred();
    EXPECT_FALSE(engine_.Search().ThreadsRunning());
    // Cancelled: nothing found, so the status says so and "Port" stays.
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.Text(control::statusLine), "No GPS Found");
    EXPECT_EQ(Hub().settings.port, 3u);
    EXPECT_EQ(Hub().search.applySearchResult, 0);

    // Now Escape closes the window, and with the ports disabled the hub.
    mainWindow_.Command(control::close, notification::clicked);
    EXPECT_FALSE(mainWindow_.exists);
    EXPECT_EQ(mainWindow_.quits, 1u);
}

TEST_F(MainWindowTest, AFoundReceiverBecomesTheInputPortAndTheListsShowIt) {
    StoreUsualSettings();
    portMap_.Set({3, 4});
    ports_.Add(3);
    DeliverAtSpeed(ports_.Add(4), 38400, validRmc + validRmc + validRmc, Garbage(120));
    Start();
    FindGps();
    threads_.RunDeferred();
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.Text(control::statusLine), "GPS on COM4 at 38400");
    EXPECT_EQ(Hub().settings.port, 4u);
    EXPECT_EQ(Hub().settings.baud, 38400u);
    EXPECT_EQ(mainWindow_.Selected(control::inputPort), "COM4");
    EXPECT_EQ(mainWindow_.Selected(control::speed), "38400");
    EXPECT_TRUE(Hub().InputPortOpen());
    EXPECT_EQ(ports_.Find(4)->State().BaudRate, 38400u);

    // The next tick shows the stream again, with the lists' speed kept.
    mainWindow_.Tick();
    EXPECT_EQ(Hub().settings.baud, 38400u);
    EXPECT_EQ(Hub().search.applySearchResult, 0);
}

// ---- The status line ----------------------------------------------------------------------------

TEST_F(MainWindowTest, AnInputPortThatIsNotFoundShowsWhy) {
    StoreUsualSettings();
    ports_.Add(3).FailOpen(error::notFound);
    Start();
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.Text(control::statusLine), "Port Closed"); // not tried yet
    EngineTicks(ticksToFirstOpenWithMainWindow);
    ASSERT_EQ(Hub().inputPort->lastOpenError, error::notFound);
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.Text(control::statusLine), "Port Doesn't Exist");
}

TEST_F(MainWindowTest, AnOpenPortShowsStreamFixSatellitesAndSeconds) {
    StoreUsualSettings();
    ports_.Add(3);
    Start();
    EngineTicks(ticksToFirstOpenWithMainWindow);
    ASSERT_TRUE(Hub().InputPortOpen());

    Block().streamState = static_cast<uint8_t>(StreamState::NmeaStream);
    Block().fixState = static_cast<uint8_t>(FixState::Fix3D);
    Block().satsUsed = 8;
    Block().utcTime.wSecond = 7;
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.Text(control::statusLine), "NMEA Stream | 3D Fix | 8 SVs :07");

    // A closed stream has no fix or satellites to tell.
    Block().streamState = static_cast<uint8_t>(StreamState::PortClosed);
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.Text(control::statusLine), "Port Closed |  |  :07");
}

TEST_F(MainWindowTest, WhileASearchSettlesTheLineWaitsBeforeSayingNoDataStream) {
    StoreUsualSettings();
    Start();
    mainWindow_.Tick();
    ASSERT_EQ(mainWindow_.Text(control::statusLine), "Port Closed");
    // A search's threads have ended, and the timer loop has not cleared `scanning` yet.
    Hub().search.scanning.store(1);
    Hub().loop.idleTicks = 40;
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.Text(control::statusLine), "Port Closed");
    Hub().loop.idleTicks = 41;
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.Text(control::statusLine), "No Data Stream");
    // An unchanged line is not written again (a selection in it survives the ticks).
    const uint32_t writes = mainWindow_.textWrites[control::statusLine];
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.textWrites[control::statusLine], writes);
}

TEST_F(MainWindowTest, DroppedBytesGetALineOfTheirOwnOnceThereAreAny) {
    StoreUsualSettings();
    Start();
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.shown[control::droppedLine], 0u);
    EXPECT_EQ(mainWindow_.textWrites[control::droppedLine], 0u);

    Hub().drops.Add(DropCause::Reopen, 3);
    Hub().drops.Add(DropCause::Unwritten, 7);
    mainWindow_.Tick();
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.shown[control::droppedLine], 1u);
    EXPECT_EQ(mainWindow_.textWrites[control::droppedLine], 1u) << "unchanged counts stay";
    EXPECT_EQ(mainWindow_.Text(control::droppedLine),
              "Dropped: 3 bytes received, emptied by a re-open; 7 bytes for the receiver, not "
              "taken by it");
    Hub().drops.Add(DropCause::Unwritten, 1);
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.shown[control::droppedLine], 1u);
    EXPECT_NE(mainWindow_.Text(control::droppedLine).find("; 8 bytes"), std::string::npos);

    // A window opened again shows the line from its first tick.
    mainWindow_.Close();
    mainWindow_.Create();
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.shown[control::droppedLine], 1u);
    EXPECT_NE(mainWindow_.Text(control::droppedLine).find("; 8 bytes"), std::string::npos);
}

// ---- The input port and its speed ---------------------------------------------------------------

TEST_F(MainWindowTest, ChoosingAnInputPortOrSpeedReopensThePort) {
    StoreUsualSettings();
    portMap_.Set({1, 3});
    ports_.Add(1);
    ports_.Add(3);
    Start();
    EngineTicks(ticksToFirstOpenWithMainWindow);
    ASSERT_EQ(ports_.Find(3)->OpenHandles(), 1u);
    EXPECT_EQ(mainWindow_.Selected(control::inputPort), "COM3");
    EXPECT_EQ(mainWindow_.Selected(control::speed), "4800");

    Hub().loop.lastStatus = 0;
    mainWindow_.Choose(control::inputPort, "COM1");
    EXPECT_EQ(Hub().settings.port, 1u);
    EXPECT_EQ(ports_.Find(3)->OpenHandles(), 0u);
    EXPECT_EQ(ports_.Find(1)->OpenHandles(), 1u);
    EXPECT_EQ(Hub().loop.lastStatus, 5u);

    mainWindow_.Choose(control::speed, "9600");
    EXPECT_EQ(Hub().settings.baud, 9600u);
    EXPECT_EQ(ports_.Find(1)->State().BaudRate, 9600u);

    // The empty entry: no input port.
    mainWindow_.Choose(control::inputPort, "");
    EXPECT_EQ(Hub().settings.port, 0u);
    EXPECT_FALSE(Hub().InputPortOpen());
    mainWindow_.Tick();
    EXPECT_EQ(mainWindow_.Text(control::statusLine), "Port Closed");
}

TEST_F(MainWindowTest, ASpeedChangedForAClientIsShownAndKept) {
    StoreUsualSettings();
    StoreSetting("Port0", 5);
    Start();
    mainWindow_.Click(control::enablePorts);
    ASSERT_TRUE(Hub().exchange.DeviceOpen());

    Hub().settings.baud = 9600;
    controller_.BaudChanged();
    EXPECT_EQ(mainWindow_.Selected(control::speed), "9600");
    mainWindow_.Tick();
    EXPECT_EQ(Hub().settings.baud, 9600u);

    // A speed the list does not offer is not taken back by the lists on the next tick.
    Hub().settings.baud = 14400;
    controller_.BaudChanged();
    EXPECT_EQ(mainWindow_.Selected(control::speed), "(none)");
    mainWindow_.Tick();
    EXPECT_EQ(Hub().settings.baud, 14400u);
}

// ---- Options, logging, log path -----------------------------------------------------------------

TEST_F(MainWindowTest, AutoTimeSyncFlipsOnlyItsBitAndIsSavedWhenTheWindowCloses) {
    StoreUsualSettings();
    StoreSetting("Sync", 0x25); // bit 5 belongs to nobody and is kept
    Start();
    EXPECT_TRUE(mainWindow_.Checked(control::videoReset));
    EXPECT_TRUE(mainWindow_.Checked(control::batterySaver));
    EXPECT_FALSE(mainWindow_.Checked(control::autoTimeSync));

    mainWindow_.Click(control::autoTimeSync);
    EXPECT_EQ(Hub().settings.optionFlags, 0x35u);
    EXPECT_EQ(StoredNumber("Sync"), 0x25);
    mainWindow_.Command(control::close, notification::clicked);
    EXPECT_EQ(StoredNumber("Sync"), 0x35);
}

TEST_F(MainWindowTest, EachOptionBoxFlipsItsOwnBit) {
    StoreUsualSettings();
    Start();
    const std::pair<uint32_t, uint32_t> boxes[] = {
        {control::videoReset, 0x01}, {control::nmeaFilter, 0x02},   {control::batterySaver, 0x04},
        {control::readOnly, 0x08},   {control::autoTimeSync, 0x10},
    };
    for (const auto& [id, bit] : boxes) {
        mainWindow_.Click(id);
        EXPECT_EQ(Hub().settings.optionFlags, bit) << id;
        mainWindow_.Click(id);
        EXPECT_EQ(Hub().settings.optionFlags, 0u) << id;
    }
}

TEST_F(MainWindowTest, TheLoggingBoxFinishesTheLogAndMakesTheDirectoriesWhenSwitchedOn) {
    StoreUsualSettings();
    Start();
    const std::string path = Hub().settings.logPath; // the edition's default
    EXPECT_FALSE(mainWindow_.Checked(control::logging));
    EXPECT_EQ(mainWindow_.Text(control::logPath), path);

    mainWindow_.Click(control::logging);
    EXPECT_EQ(Hub().settings.logging, 1u);
    EXPECT_EQ(trackLog_.directories, Strings{path});
    EXPECT_EQ(trackLog_.closes, 1u);

    mainWindow_.Click(control::logging);
    EXPECT_EQ(Hub().settings.logging, 0u);
    EXPECT_EQ(trackLog_.directories.size(), 1u);
    EXPECT_EQ(trackLog_.closes, 2u);
}

TEST_F(MainWindowTest, ANewLogPathFinishesTheLogButFocusNotificationsDoNot) {
    StoreUsualSettings();
    StoreSetting("Logging", 1);
    Start();
    // The box notifies when the window fills it and when it gains the focus: same text.
    mainWindow_.Command(control::logPath, 0x300);
    mainWindow_.Command(control::logPath, 0x100); // EN_SETFOCUS
    EXPECT_EQ(trackLog_.closes, 0u);

    mainWindow_.Type(control::logPath, "D:\\Tracks\\Car");
    EXPECT_STREQ(Hub().settings.logPath, "D:\\Tracks\\Car");
    EXPECT_EQ(trackLog_.directories, Strings{"D:\\Tracks\\Car"});
    EXPECT_EQ(trackLog_.closes, 1u);

    // With a file open the directories wait for the next file.
    trackLog_.open = true;
    mainWindow_.Type(control::logPath, "D:\\Tracks\\Bike");
    EXPECT_EQ(trackLog_.directories.size(), 1u);
    EXPECT_EQ(trackLog_.closes, 2u);

    // An emptied path stops logging to files; nothing to create.
    mainWindow_.Type(control::logPath, "");
    EXPECT_STREQ(Hub().settings.logPath, "");
    EXPECT_EQ(trackLog_.directories.size(), 1u);
}

TEST_F(MainWindowTest, ALogPathLongerThanTheSettingIsCut) {
    StoreUsualSettings();
    Start();
    mainWindow_.Type(control::logPath, std::string(200, 'x'));
    EXPECT_EQ(strlen(Hub().settings.logPath), logPathSize - 1);
}

// ---- The device list ----------------------------------------------------------------------------

TEST_F(MainWindowTest, TheDeviceListTicksTheRestartDevicesAndSavesTheTickedRows) {
    StoreUsualSettings();
    DeviceInfoData receiver{};
    receiver.classGuid[0] = 2;
    receiver.devInst = 20;
    uint8_t value[deviceValueSize];
    EncodeDeviceValue(receiver, value);
    {
        platform::ScopedRegistryKey key(memoryRegistry_);
        ASSERT_EQ(memoryRegistry_.CreateKey(platform::RegistryKey::currentUser, settingsKeyPath,
                                            key.Receive()),
                  error::success);
        ASSERT_EQ(
            memoryRegistry_.SetValue(key.Get(), "Dev0", platform::regBinary, value, sizeof value),
            error::success);
    }
    devices_.Add("USB Root Hub", "usbhub", 1, 10);
    devices_.Add("GPS Receiver", "usbser", 2, 20);
    devices_.Add("Unknown", "", 3, 30, false);     // no description: not listed
    devices_.Add("USB Root Hub", "usbhub", 1, 10); // listed already
    Start();
    ASSERT_EQ(mainWindow_.rows.size(), 2u);
    EXPECT_EQ(mainWindow_.devicePreparations, 1u);
    // Each row goes in at the top.
    EXPECT_EQ(mainWindow_.rows[0].text, "GPS Receiver (usbser)");
    EXPECT_TRUE(mainWindow_.rows[0].ticked);
    EXPECT_EQ(mainWindow_.rows[1].text, "USB Root Hub (usbhub)");
    EXPECT_FALSE(mainWindow_.rows[1].ticked);

    mainWindow_.rows[0].ticked = false;
    mainWindow_.rows[1].ticked = true;
    mainWindow_.Command(control::close, notification::clicked);
    const RestartDeviceTable& restart = engine_.RestartDevices();
    EXPECT_EQ(restart[0].device.devInst, 10u);
    EXPECT_EQ(restart[0].device.classGuid[0], 1);
    EXPECT_EQ(restart[0].state, restartDeviceListed);
    EXPECT_EQ(restart[1].state, 0u);
    EXPECT_TRUE(Stored("Dev0"));
    EXPECT_FALSE(Stored("Dev1"));
}

// ---- The lamps in the window's tick
// ---------------------------------------------------------------

TEST_F(MainWindowTest, WithThePortsDisabledTheVirtualLampsAreGreyAndTheInputLampFollowsThePort) {
    StoreUsualSettings();
    StoreSetting("Port0", 5);
    ports_.Add(3);
    Start();
    mainWindow_.Tick();
    ASSERT_EQ(painter_.painted.size(), lampCount);
    // Virtual ports first, the input last.
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        EXPECT_EQ(painter_.painted[i].first, i + 1);
        EXPECT_EQ(painter_.painted[i].second.fill, OpaqueArgb(lampColour::grey));
    }
    EXPECT_EQ(painter_.painted[8].first, inputLampIndex);
    EXPECT_EQ(painter_.painted[8].second.fill, OpaqueArgb(lampColour::red));

    EngineTicks(ticksToFirstOpenWithMainWindow);
    mainWindow_.Tick();
    EXPECT_EQ(painter_.Last(inputLampIndex)->fill, OpaqueArgb(lampColour::green));
    Hub().settings.bluetooth = 1;
    mainWindow_.Tick();
    EXPECT_EQ(painter_.Last(inputLampIndex)->fill, OpaqueArgb(lampColour::bluetooth));
}

TEST_F(MainWindowTest, NoLampIsDrawnWhileASearchRuns) {
    StoreUsualSettings();
    portMap_.Set({3});
    ports_.Add(3);
    Start();
    FindGps();
    mainWindow_.Tick();
    EXPECT_TRUE(painter_.painted.empty());
}

} // namespace
} // namespace tavro::testing
