// Start and end of the hub: the process entry with its single-instance rule and "HIDE", the
// static start-up, the message window's initialisation and destruction, and the status block
// they attach and detach.
#include "tests/engine/HubEngineFixture.h"

#include "platform/testing/FakeRunningHub.h"

namespace tavro::testing {
namespace {

using platform::TrayOperation;

// A front end's message loop in miniature: initialises, runs some ticks, is destroyed.
class ScriptedLoop final : public MessageLoop {
public:
    explicit ScriptedLoop(uint32_t ticks) : ticks_(ticks) {}
    void Run(HubEngine& engine) override {
        ++runs;
        engine.InitDialog();
        for (uint32_t i = 0; i < ticks_; ++i) {
            engine.Tick();
        }
        driverOpenBeforeDestroy = engine.Context().exchange.DeviceOpen();
        engine.Destroy();
    }

    uint32_t runs = 0;
    bool driverOpenBeforeDestroy = false;

private:
    uint32_t ticks_;
};

TEST(HideArgument, MatchesHideInAnyCaseAndNothingElse) {
    EXPECT_TRUE(IsHideArgument("HIDE"));
    EXPECT_TRUE(IsHideArgument("hide"));
    EXPECT_TRUE(IsHideArgument("HiDe"));
    EXPECT_FALSE(IsHideArgument(nullptr));
    EXPECT_FALSE(IsHideArgument(""));
    EXPECT_FALSE(IsHideArgument("HID"));
    EXPECT_FALSE(IsHideArgument("HIDES"));
    EXPECT_FALSE(IsHideArgument(" HIDE"));
    EXPECT_FALSE(IsHideArgument("/HIDE"));
}

using HubMainTest = HubEngineFixture;

TEST_F(HubMainTest, SecondStartTogglesTheRunningHubAndTouchesNothing) {
    platform::testing::FakeRunningHub running;
    running.SetRunning(true);
    ScriptedLoop loop(10);

    EXPECT_EQ(HubMain("", engine_, running, loop), 0);

    ASSERT_EQ(running.Received().size(), 1u);
    EXPECT_EQ(running.Received()[0].message, 1025u);
    EXPECT_EQ(running.Received()[0].wParam, 0u);
    EXPECT_EQ(running.Received()[0].lParam, 517);
    // No window, no driver, no block, no tray: the running hub's driver keeps its one handle.
    EXPECT_EQ(loop.runs, 0u);
    EXPECT_EQ(control_.opens, 0u);
    EXPECT_EQ(memory_.Block(), nullptr);
    EXPECT_TRUE(tray_.Calls().empty());
    EXPECT_EQ(ReceiverOpens(), 0u);
}

TEST_F(HubMainTest, SecondStartWithHideStillOnlyToggles) {
    platform::testing::FakeRunningHub running;
    running.SetRunning(true);
    ScriptedLoop loop(0);
    EXPECT_EQ(HubMain("hide", engine_, running, loop), 0);
    EXPECT_EQ(running.Received().size(), 1u);
    EXPECT_EQ(loop.runs, 0u);
    EXPECT_EQ(control_.opens, 0u);
}

TEST_F(HubMainTest, FirstStartAttachesRunsAndClosesTheDriverAtExit) {
    platform::testing::FakeRunningHub running;
    ScriptedLoop loop(3);

    EXPECT_EQ(HubMain("", engine_, running, loop), 0);

    EXPECT_EQ(running.Lookups(), 1u);
    EXPECT_EQ(loop.runs, 1u);
    EXPECT_EQ(control_.opens, 1u);
    EXPECT_TRUE(loop.driverOpenBeforeDestroy);
    EXPECT_EQ(Hub().loop.driverPresent, 1);
    // The static start-up's exchange and one per tick.
    EXPECT_EQ(control_.exchanges, 1u + 3u);
    EXPECT_FALSE(Hub().exchange.DeviceOpen());
    // With the driver present the hub starts in the tray only.
    EXPECT_EQ(mainWindow_.creates, 0u);
}

TEST_F(HubMainTest, HideInMixedCaseKeepsTheMainWindowClosedWithoutTheDriver) {
    control_.missing = true;
    platform::testing::FakeRunningHub running;
    ScriptedLoop loop(1);
    EXPECT_EQ(HubMain("HiDe", engine_, running, loop), 0);
    EXPECT_EQ(Hub().loop.driverPresent, 0);
    EXPECT_EQ(Hub().loop.startHidden, 4u);
    EXPECT_EQ(mainWindow_.creates, 0u);
}

TEST_F(HubMainTest, WithoutDriverAndWithoutHideTheMainWindowOpens) {
    control_.missing = true;
    platform::testing::FakeRunningHub running;
    ScriptedLoop loop(0);
    EXPECT_EQ(HubMain("", engine_, running, loop), 0);
    EXPECT_EQ(mainWindow_.creates, 1u);
}

using HubStartTest = HubEngineFixture;

TEST_F(HubStartTest, InitialisationRunsInOrder) {
    Start(true);

    ASSERT_EQ(tray_.Calls().size(), 1u);
    EXPECT_EQ(tray_.Calls()[0].operation, TrayOperation::Add);
    EXPECT_EQ(tray_.Calls()[0].icon, 101u);
    EXPECT_EQ(tray_.Calls()[0].tip, "Tavro");
    EXPECT_EQ(window_.calls,
              (std::vector<std::string>{"Publish", "StartTimer 50", "AllowCommands"}));
    EXPECT_EQ(Hub().settings.port, receiverCom);
    EXPECT_EQ(Hub().loop.devicesActive, 1u);
    EXPECT_EQ(Hub().loop.videoCountdown, 100u);
    EXPECT_EQ(Hub().loop.idleTicks, 100u);
    ASSERT_NE(Hub().inputPort, nullptr);
    EXPECT_FALSE(Hub().InputPortOpen());

    GpsSharedStatus* shared = memory_.Block();
    ASSERT_NE(shared, nullptr);
    EXPECT_NE(&Block(), shared) << "the hub writes its own record and publishes it";
    EXPECT_EQ(shared->streamState, static_cast<uint8_t>(StreamState::PortClosed));
    EXPECT_EQ(shared->refCount, 1);
    EXPECT_EQ(memcmp(reinterpret_cast<const uint8_t*>(shared) + signatureOffset, "TVRO", 4), 0);
}

TEST_F(HubStartTest, DriverPresentStartsInTheTrayOnlyAndOpensTheReceiverAfter50Ticks) {
    Start(false);
    EXPECT_EQ(Hub().loop.driverPresent, 1);
    EXPECT_EQ(mainWindow_.creates, 0u);

    Tick(ticksToFirstOpen - 1);
    EXPECT_EQ(ReceiverOpens(), 0u);
    Tick();
    EXPECT_EQ(ReceiverOpens(), 1u);
    EXPECT_TRUE(Hub().InputPortOpen());
    EXPECT_EQ(Block().streamState, static_cast<uint8_t>(StreamState::PortOpen));
    EXPECT_EQ(Block().comPort, receiverCom);
}

TEST_F(HubStartTest, MainWindowAtStartBringsTheFirstOpenForwardTo40Ticks) {
    control_.missing = true;
    Start(false);
    EXPECT_EQ(mainWindow_.creates, 1u);
    EXPECT_EQ(Hub().loop.idleTicks, 110u);
    Tick(ticksToFirstOpenWithMainWindow - 1);
    EXPECT_EQ(ReceiverOpens(), 0u);
    Tick();
    EXPECT_EQ(ReceiverOpens(), 1u);
}

TEST_F(HubStartTest, WithoutTheDriverTheLoopRunsWithoutExchangeOrRelay) {
    control_.missing = true;
    Start(true);
    Tick(ticksToFirstOpen);
    receiver_.QueueInput(validRmc);
    Tick();
    EXPECT_EQ(control_.exchanges, 0u);
    EXPECT_TRUE(control_.broadcast.empty());
    EXPECT_EQ(Block().rmcCount, 1);
}

TEST_F(HubStartTest, PortZeroNeverOpensOrReads) {
    StoreSetting("Port", 0);
    Start(true);
    receiver_.QueueInput(validRmc);
    Tick(400);
    EXPECT_EQ(ReceiverOpens(), 0u);
    EXPECT_EQ(Block().rmcCount, 0);
}

TEST_F(HubStartTest, MappingThatCannotBeMadeLeavesThePrivateBlockAndTheLoopRuns) {
    memory_.FailWith(error::accessDenied);
    Start(true);
    EXPECT_EQ(memory_.Block(), nullptr);
    EXPECT_EQ(Block().refCount, 1);
    Tick(ticksToFirstOpen);
    Receive(validRmc + fix3dGsa);
    EXPECT_EQ(Block().rmcCount, 1);
    EXPECT_EQ(Block().fixState, static_cast<uint8_t>(FixState::Fix3D));
    Tick();
    EXPECT_EQ(tray_.Calls().back().tip, "3D Fix");
}

TEST_F(HubStartTest, DestroyUndoesTheStartInOrder) {
    StartAndOpen();
    // A reader keeps the mapping after the hub has gone.
    StatusBlock reader(memory_);
    ASSERT_EQ(reader.AttachReader(), error::success);
    EXPECT_EQ(Hub().statusBlock.Readers(), 2);
    tray_.Clear();
    window_.calls.clear();

    engine_.Destroy();

    EXPECT_EQ(window_.calls, std::vector<std::string>{"StopTimer"});
    ASSERT_EQ(tray_.Calls().size(), 1u);
    EXPECT_EQ(tray_.Calls()[0].operation, TrayOperation::Delete);
    EXPECT_FALSE(tray_.Calls()[0].hasTip);
    EXPECT_FALSE(Hub().exchange.DeviceOpen());
    EXPECT_EQ(Hub().inputPort, nullptr);
    EXPECT_EQ(receiver_.OpenHandles(), 0u);
    GpsSharedStatus& shared = reader.Block();
    EXPECT_EQ(shared.streamState, static_cast<uint8_t>(StreamState::Detached));
    EXPECT_EQ(shared.refCount, 1);
    EXPECT_EQ(shared.comPort, 0);

    // Ticks and commands after the window is gone do nothing.
    const uint32_t exchanges = control_.exchanges;
    Tick(5);
    Command(HubCommand::HoldRelay);
    EXPECT_EQ(control_.exchanges, exchanges);
    EXPECT_EQ(shared.relayHeld, 0);
}

TEST_F(HubStartTest, RestartWhileAReaderHoldsTheBlockKeepsItsContent) {
    StatusBlock reader(memory_);
    // The reader finds no mapping before the hub starts.
    EXPECT_NE(reader.AttachReader(), error::success);
    reader.DetachReader();

    Start(true);
    Block().rmcCount = 42;
    ASSERT_EQ(reader.AttachReader(), error::success);
    engine_.Destroy();
    EXPECT_EQ(reader.Block().refCount, 1);

    HubEngine second(HubServices{{ports_, control_, memory_, clock_, timing_},
                                 registry_,
                                 portMap_,
                                 tray_,
                                 sound_,
                                 notifier_,
                                 window_,
                                 mainWindow_});
    second.StaticAttach();
    second.InitDialog();
    EXPECT_EQ(second.Status().refCount, 2);
    EXPECT_EQ(second.Status().rmcCount, 42);
    EXPECT_EQ(second.Status().streamState, static_cast<uint8_t>(StreamState::PortClosed));
}

TEST_F(HubStartTest, MainWindowTogglesOnDoubleClickAndRightButtonOnly) {
    Start(true);
    engine_.ToggleMainWindow(0x201); // left button down
    engine_.ToggleMainWindow(0x202); // left button up
    EXPECT_EQ(mainWindow_.creates, 0u);
    engine_.ToggleMainWindow(trayDoubleClick);
    EXPECT_TRUE(mainWindow_.exists);
    engine_.ToggleMainWindow(trayRightButtonUp);
    EXPECT_FALSE(mainWindow_.exists);
    EXPECT_EQ(mainWindow_.creates, 1u);
    EXPECT_EQ(mainWindow_.destroys, 1u);
}

} // namespace
} // namespace tavro::testing
