// The 50 ms tick: user count and driver version, Battery Saver, the idle re-open, the tray and
// the fix sounds, the input with its zero-led and requested-speed re-opens and what they drop.
#include "tests/engine/HubEngineFixture.h"

namespace tavro::testing {
namespace {

using platform::TrayOperation;

using HubTickTest = HubEngineFixture;

TEST_F(HubTickTest, SilentReceiverIsReopenedAfter150TicksAndTheTrayRefreshed) {
    StartAndOpen();
    Receive(validRmc);
    Receive(validRmc);
    ASSERT_EQ(Block().rmcCount, 2);
    ASSERT_EQ(ReceiverOpens(), 1u);
    // The silence begins; the last frame set idleTicks to 0.
    Tick(149);
    EXPECT_EQ(ReceiverOpens(), 1u);
    tray_.Clear();
    Tick();
    EXPECT_EQ(ReceiverOpens(), 2u);
    EXPECT_TRUE(Hub().InputPortOpen());
    EXPECT_EQ(Hub().loop.idleTicks, 0u);
    EXPECT_EQ(Hub().loop.dataTicks, 0u);
    // The re-open forced lastStatus 5; the tick's own tray step already showed the state.
    ASSERT_EQ(tray_.Calls().size(), 1u);
    EXPECT_EQ(tray_.Calls()[0].operation, TrayOperation::Modify);
    EXPECT_EQ(tray_.Calls()[0].icon, 140u);
    EXPECT_EQ(tray_.Calls()[0].tip, "No Data");
    EXPECT_EQ(Hub().loop.lastStatus, 0u);
    // And again 150 ticks later while it stays silent.
    Tick(150);
    EXPECT_EQ(ReceiverOpens(), 3u);
}

TEST_F(HubTickTest, PortThatFailsToOpenIsTriedEvery150Ticks) {
    receiver_.FailOpen(error::accessDenied);
    Start(true);
    Tick(ticksToFirstOpen);
    EXPECT_EQ(ReceiverOpens(), 1u);
    EXPECT_EQ(Port().lastOpenError, error::accessDenied);
    EXPECT_EQ(tray_.Calls().back().tip, "Not connected");
    EXPECT_EQ(tray_.Calls().back().icon, 101u);
    Tick(149);
    EXPECT_EQ(ReceiverOpens(), 1u);
    Tick();
    EXPECT_EQ(ReceiverOpens(), 2u);
    // No message box for a port that does not open.
    EXPECT_TRUE(notifier_.Messages().empty());
}

TEST_F(HubTickTest, BatterySaverOpensForAUserInTheSameTickAndClosesWhenTheLastGoes) {
    StoreSetting("Sync", OptionFlags::batterySaver);
    Start(true);
    // Nobody uses the hub: no idle re-open either, however long.
    Tick(400);
    EXPECT_EQ(ReceiverOpens(), 0u);

    auto application = Application();
    Tick();
    EXPECT_EQ(ReceiverOpens(), 1u);
    EXPECT_TRUE(Hub().InputPortOpen());

    Receive(validRmc);
    EXPECT_EQ(application->ReadNow(), validRmc);

    application.reset();
    Tick();
    EXPECT_FALSE(Hub().InputPortOpen());
    EXPECT_EQ(Block().streamState, static_cast<uint8_t>(StreamState::PortClosed));
    Tick(400);
    EXPECT_EQ(ReceiverOpens(), 1u);
}

TEST_F(HubTickTest, BatterySaverCountsReadersOfTheStatusBlock) {
    StoreSetting("Sync", OptionFlags::batterySaver);
    Start(true);
    Tick(3);
    StatusBlock reader(memory_);
    ASSERT_EQ(reader.AttachReader(), error::success);
    Tick();
    EXPECT_TRUE(Hub().InputPortOpen());
    reader.DetachReader();
    Tick();
    EXPECT_FALSE(Hub().InputPortOpen());
}

TEST_F(HubTickTest, BatterySaverRequestIsUsedUpByAFailedOpen) {
    StoreSetting("Sync", OptionFlags::batterySaver);
    receiver_.FailOpen(error::fileNotFound);
    Start(true);
    Tick(2);
    auto first = Application(firstVirtualCom);
    Tick();
    EXPECT_EQ(ReceiverOpens(), 1u);
    EXPECT_EQ(Hub().loop.openRequested, 0);
    // Not repeated while the count stays where it is.
    Tick(400);
    EXPECT_EQ(ReceiverOpens(), 1u);
    // The receiver comes back, but only a rising count tries again.
    receiver_.FailOpen(error::success);
    Tick(10);
    EXPECT_EQ(ReceiverOpens(), 1u);
    auto second = Application(firstVirtualCom + 1);
    Tick();
    EXPECT_EQ(ReceiverOpens(), 2u);
    EXPECT_TRUE(Hub().InputPortOpen());
}

TEST_F(HubTickTest, BatterySaverDoesNothingWithoutAnInputPort) {
    StoreSetting("Sync", OptionFlags::batterySaver);
    StoreSetting("Port", 0);
    Start(true);
    auto application = Application();
    Tick(5);
    EXPECT_EQ(Hub().loop.openRequested, 0);
    EXPECT_EQ(ReceiverOpens(), 0u);
}

TEST_F(HubTickTest, TrayFollowsTheFixWithSoundsOnlyWhenTheClassChanges) {
    StartAndOpen();
    Receive(validRmc + fix3dGsa);
    Tick();
    EXPECT_EQ(tray_.Calls().back().icon, 142u);
    EXPECT_EQ(tray_.Calls().back().tip, "3D Fix");
    EXPECT_EQ(sound_.Played(), std::vector<std::string>{"GPS_Fix.wav"});

    // 3D to 2D: new icon, same class, no sound.
    Block().fixState = static_cast<uint8_t>(FixState::Fix2D);
    Tick();
    EXPECT_EQ(tray_.Calls().back().icon, 141u);
    EXPECT_EQ(tray_.Calls().back().tip, "2D Fix");
    EXPECT_EQ(sound_.Played().size(), 1u);

    // Unchanged status: the tray is left alone.
    const size_t calls = tray_.Calls().size();
    Tick(3);
    EXPECT_EQ(tray_.Calls().size(), calls);

    Receive(noFixGsa);
    Tick();
    EXPECT_EQ(tray_.Calls().back().icon, 139u);
    EXPECT_EQ(tray_.Calls().back().tip, "No Fix");
    EXPECT_EQ(sound_.Played(), (std::vector<std::string>{"GPS_Fix.wav", "GPS_NoFix.wav"}));

    Block().fixState = static_cast<uint8_t>(FixState::Invalid);
    Tick();
    EXPECT_EQ(tray_.Calls().back().icon, 140u);
    EXPECT_EQ(tray_.Calls().back().tip, "Invalid");
    EXPECT_EQ(sound_.Played().size(), 2u);
}

TEST_F(HubTickTest, FixStatusFourShowsTheProgramNameAndChangesNothingElse) {
    StartAndOpen();
    Block().fixState = static_cast<uint8_t>(FixState::Fix3D);
    Tick();
    ASSERT_EQ(Hub().loop.lastFixClass, 1u);
    sound_.Clear();

    Block().fixState = 4;
    Tick();
    EXPECT_EQ(tray_.Calls().back().operation, TrayOperation::Modify);
    EXPECT_EQ(tray_.Calls().back().icon, 142u);
    EXPECT_EQ(tray_.Calls().back().tip, "Tavro");
    EXPECT_TRUE(sound_.Played().empty());
    EXPECT_EQ(Hub().loop.lastFixClass, 1u);
    EXPECT_EQ(Hub().loop.trayIconId, 142u);
    EXPECT_EQ(Hub().loop.lastStatus, 4u);

    // Values above 5 are treated alike; shown once, not at every tick.
    Block().fixState = 9;
    Tick(3);
    EXPECT_EQ(tray_.Calls().back().tip, "Tavro");
    EXPECT_EQ(tray_.Calls().back().icon, 142u);
    EXPECT_TRUE(sound_.Played().empty());
}

TEST_F(HubTickTest, ClosedPortShowsNotConnectedWithoutASound) {
    StoreSetting("Sync", OptionFlags::batterySaver);
    Start(true);
    auto application = Application();
    Tick();
    Receive(validRmc + fix3dGsa);
    Tick();
    ASSERT_EQ(sound_.Played().size(), 1u);

    application.reset();
    Tick(); // Battery Saver closes the port; Close clears the fix state
    EXPECT_EQ(tray_.Calls().back().icon, 101u);
    EXPECT_EQ(tray_.Calls().back().tip, "Not connected");
    EXPECT_EQ(sound_.Played().size(), 1u);
    EXPECT_EQ(Hub().loop.lastFixClass, 0u);
}

// A zero-led first frame is a receiver heard at another speed only when the speed just
// changed and no stream start was heard; otherwise it is a binary receiver's data, and a
// re-open would empty the queue.
TEST_F(HubTickTest, ZeroLedFirstFrameReopensOnceOnlyAfterASpeedChange) {
    const std::string zeroLed("\0junk\n", 6);
    StartAndOpen();
    Receive(zeroLed);
    EXPECT_EQ(ReceiverOpens(), 1u) << "first open: no speed changed";
    Receive(validRmc);

    Hub().settings.baud = 9600;
    Tick(150); // the silent port's re-open, at the new speed
    ASSERT_EQ(ReceiverOpens(), 2u);
    Receive(std::string(1, '\0') + validRmc);
    EXPECT_EQ(ReceiverOpens(), 2u) << "a stream start says the speed is right";

    Tick(150);
    Hub().settings.baud = 4800;
    Tick(1);
    Receive(std::string(1, '\0'));
    Tick(150);
    ASSERT_EQ(ReceiverOpens(), 4u);
    Receive(zeroLed);
    EXPECT_EQ(ReceiverOpens(), 4u) << "closed now, opened once the receiver's pause is over";
    TickAfter(200);
    EXPECT_EQ(ReceiverOpens(), 5u);
    EXPECT_EQ(Hub().loop.lastStatus, 5u);
    Receive(zeroLed);
    EXPECT_EQ(ReceiverOpens(), 5u) << "the re-open kept the speed";
}

// The recovery from a run of corrupt frames closes the port at once; the loop keeps relaying
// through the 100 ms pause and then opens the port again.
TEST_F(HubTickTest, TheRecoveryPausesOnTheTimerLoop) {
    StoreSetting("Sync", OptionFlags::nmeaFilter);
    StartAndOpen();
    auto application = Application();
    std::string corrupt;
    for (int i = 0; i < 7; ++i) {
        corrupt += "$GPGGA,1,2,3*00\r\n";
    }
    Receive(corrupt);
    EXPECT_FALSE(Hub().InputPortOpen());
    EXPECT_EQ(Block().streamState, static_cast<uint8_t>(StreamState::PortClosed));
    Command(HubCommand::InjectFrame, validRmc);
    TickAfter(99);
    EXPECT_EQ(application->ReadNow(), validRmc);
    EXPECT_EQ(ReceiverOpens(), 1u);
    TickAfter(1);
    EXPECT_EQ(ReceiverOpens(), 2u);
    EXPECT_TRUE(Hub().InputPortOpen());
    EXPECT_EQ(Block().streamState, static_cast<uint8_t>(StreamState::PortOpen));
    EXPECT_EQ(Block().comPort, receiverCom);
    EXPECT_TRUE(timing_.Sleeps().empty());
}

TEST_F(HubTickTest, FirstFrameWithDataDoesNotReopen) {
    StartAndOpen();
    Receive(validRmc);
    Receive(std::string("\0junk\n", 6)); // not the first frame any more
    EXPECT_EQ(ReceiverOpens(), 1u);
    EXPECT_FALSE(Port().ReopenWaiting());
}

TEST_F(HubTickTest, ReopensCountTheBytesTheyEmpty) {
    receiver_.EmptyInputOnClose(true);
    StartAndOpen();
    const uint32_t speed = 9600;
    Command(HubCommand::ChangeBaud, &speed, sizeof speed);
    Receive(validRmc + std::string(600, 'x')); // one read of 510, 158 bytes left queued
    EXPECT_EQ(Hub().drops.Bytes(DropCause::SpeedChange), 600u + validRmc.size() - 510);
    TickAfter(200);
    EXPECT_EQ(ReceiverOpens(), 2u);

    // The silent port's re-open, with bytes that came just before it.
    Hub().loop.idleTicks = 149;
    receiver_.QueueInput("abc");
    Tick();
    EXPECT_EQ(ReceiverOpens(), 3u);
    EXPECT_EQ(Hub().drops.Bytes(DropCause::Reopen), 3u);
    // A write the receiver took only in part.
    receiver_.LimitWrites(4);
    Command(HubCommand::WriteToReceiver, std::string_view("abcdef"));
    EXPECT_EQ(Hub().drops.Bytes(DropCause::Unwritten), 2u);
}

TEST_F(HubTickTest, DataTicksStopAt65535) {
    StartAndOpen();
    Hub().loop.dataTicks = 0xFFFE;
    Receive(validRmc);
    Receive(validRmc);
    EXPECT_EQ(Hub().loop.dataTicks, 0xFFFFu);
    EXPECT_EQ(Hub().loop.sentenceCount, 2u);
}

TEST_F(HubTickTest, WrongDriverVersionClosesTheDeviceWithOneMessage) {
    control_.version = 256;
    StartAndOpen();
    EXPECT_EQ(notifier_.Messages(), std::vector<std::string>{"Invalid Tavro driver version"});
    EXPECT_FALSE(Hub().exchange.DeviceOpen());
    const uint32_t exchanges = control_.exchanges;
    // The hub goes on without the driver: reading and decoding continue.
    Receive(validRmc);
    Tick(100);
    EXPECT_EQ(notifier_.Messages().size(), 1u);
    EXPECT_EQ(control_.exchanges, exchanges);
    EXPECT_EQ(Block().rmcCount, 1);
    EXPECT_TRUE(control_.broadcast.empty());
}

TEST_F(HubTickTest, ApplicationBytesReachTheReceiverInTheNextTick) {
    StartAndOpen();
    auto application = Application();
    EXPECT_EQ(application->Write("$PMTK000*32\r\n"), error::success);
    Tick();
    EXPECT_EQ(receiver_.TakeOutput(), "$PMTK000*32\r\n");
}

TEST_F(HubTickTest, FinishedSearchIsClearedOnlyAfterTheReceiverWasQuiet) {
    StartAndOpen();
    Hub().search.scanning = 1;
    Hub().loop.idleTicks = 0;
    receiver_.QueueInput(validRmc);
    Tick(38); // idleTicks reaches 38 (the receiver is not read while a search runs)
    EXPECT_EQ(Hub().search.scanning.load(), 1);
    EXPECT_EQ(Block().rmcCount, 0);
    Tick(2);
    EXPECT_EQ(Hub().search.scanning.load(), 1);
    Tick(); // idleTicks was 40 at the start of this tick
    EXPECT_EQ(Hub().search.scanning.load(), 0);
    EXPECT_EQ(Block().rmcCount, 1);
}

} // namespace
} // namespace tavro::testing
