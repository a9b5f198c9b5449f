// Standby and resume in the hub: which power messages go down and which come back, the input
// port and its log around sleep, a refused query, a resume without a suspend, Battery Saver
// after a resume, the serial port map read again, and device changes with the port open or
// closed.
#include "tests/engine/PowerFixture.h"

#include <gtest/gtest.h>

namespace tavro::testing {
namespace {

using platform::DeviceStateChange;
using Changes = std::vector<std::string>;

// The receiver's sentences, `count` of them: a stream that keeps the port busy.
std::string Sentences(size_t count, char tag) {
    std::string bytes;
    for (size_t i = 0; i < count; ++i) {
        bytes += Nmea(std::string("GPTXT,01,01,02,") + tag + std::to_string(i % 10));
    }
    return bytes;
}

TEST(PowerTransitions, TheQueriesAndTheSleepGoDownTheirFailuresAndTheWakeComeBack) {
    const PowerTransition expected[] = {
        PowerTransition::GoingDown,  PowerTransition::GoingDown,  PowerTransition::ComingBack,
        PowerTransition::ComingBack, PowerTransition::GoingDown,  PowerTransition::GoingDown,
        PowerTransition::None,       PowerTransition::ComingBack, PowerTransition::ComingBack,
    };
    for (uintptr_t wParam = 0; wParam < std::size(expected); ++wParam) {
        EXPECT_EQ(PowerTransitionOf(wParam), expected[wParam]) << wParam;
    }
    // Battery news (10), automatic wake (18), power settings (0x8013) and values no system
    // sends.
    for (uintptr_t wParam : {uintptr_t{9}, uintptr_t{10}, uintptr_t{18}, uintptr_t{0x8013},
                             uintptr_t{0x100000004}, UINTPTR_MAX}) {
        EXPECT_EQ(PowerTransitionOf(wParam), PowerTransition::None) << wParam;
    }
}

class PowerEvents : public PowerFixture {};

TEST_F(PowerEvents, GoingDownClosesThePortAndStopsTheDevicesOnce) {
    PlugIn(12);
    StoreDevice(0, 12);
    StartAndSettle();
    Hub().loop.dataTicks = 7;

    Power(querySuspend);
    EXPECT_FALSE(Hub().InputPortOpen());
    EXPECT_EQ(engine_.Status().streamState, static_cast<uint8_t>(StreamState::PortClosed));
    EXPECT_EQ(Hub().loop.idleTicks, 0u);
    EXPECT_EQ(Hub().loop.dataTicks, 0u);
    EXPECT_EQ(Hub().loop.lastStatus, 5u);
    EXPECT_EQ(usb_.Changes(), (Changes{"Stop 12"}));

    // The suspend that follows the query finds the devices stopped already.
    Power(suspend);
    EXPECT_EQ(usb_.Changes(), (Changes{"Stop 12"}));

    Power(resumeSuspend);
    EXPECT_EQ(usb_.Changes(), (Changes{"Stop 12", "Start 12"}));
    EXPECT_EQ(Hub().loop.videoCountdown, videoCountdownStart);
    EXPECT_EQ(Hub().loop.idleTicks, 120u);
    EXPECT_EQ(Hub().loop.prevUsers, 1u);
}

TEST_F(PowerEvents, ResumeCriticalAndOtherNewsChangeNothing) {
    PlugIn(12);
    StoreDevice(0, 12);
    StartAndSettle();
    Tick(3);
    const TimerLoopValues before = Hub().loop;
    for (uintptr_t wParam : {resumeCritical, uintptr_t{9}, uintptr_t{10}, uintptr_t{18}}) {
        Power(wParam);
    }
    EXPECT_TRUE(Hub().InputPortOpen());
    EXPECT_TRUE(usb_.Changes().empty());
    EXPECT_EQ(Hub().loop.idleTicks, before.idleTicks);
    EXPECT_EQ(Hub().loop.videoCountdown, 0u);
    EXPECT_EQ(Hub().loop.lastStatus, before.lastStatus);
}

TEST_F(PowerEvents, ARefusedQueryBringsEverythingBack) {
    PlugIn(12);
    StoreDevice(0, 12);
    StoreOptions(OptionFlags::videoReset);
    StartAndSettle();
    const uint32_t opens = ReceiverOpens();

    Power(querySuspend);
    ASSERT_FALSE(Hub().InputPortOpen());
    ASSERT_FALSE(usb_.Running(12));
    Power(querySuspendFailed); // another program refused the suspend

    EXPECT_TRUE(usb_.Running(12));
    Tick(29);
    EXPECT_FALSE(Hub().InputPortOpen());
    EXPECT_EQ(ReceiverOpens(), opens);
    Tick();
    EXPECT_TRUE(Hub().InputPortOpen()) << "re-opened 1.5 s after the failure";
    EXPECT_EQ(ReceiverOpens(), opens + 1);
    EXPECT_EQ(display_.Calls().size(), 2u) << "and the display reset";
}

TEST_F(PowerEvents, AResumeAloneRestartsTheCountdownsButNoDevice) {
    PlugIn(12);
    StoreDevice(0, 12);
    StoreOptions(OptionFlags::videoReset);
    StartAndSettle();
    const uint32_t opens = ReceiverOpens();

    Power(resumeSuspend);
    EXPECT_TRUE(usb_.Changes().empty()) << "the devices were never stopped";
    EXPECT_TRUE(Hub().InputPortOpen());

    const auto switches = TickAndWatchDisplay(30);
    ASSERT_EQ(switches.size(), 2u);
    EXPECT_EQ(switches[0], std::make_pair(15u, platform::DisplayState::Off));
    EXPECT_EQ(switches[1], std::make_pair(19u, platform::DisplayState::On));
    // The port, open all along, was closed and opened again at the 30th tick.
    EXPECT_EQ(ReceiverOpens(), opens + 1);
    EXPECT_TRUE(Hub().InputPortOpen());
}

TEST_F(PowerEvents, StandbyClosesTheLogFileAndTheNextDataAfterResumeBeginANewOne) {
    StoreNumber("Logging", 1);
    StartAndSettle();
    const std::string firstFile = "C:\\GPSLog\\Gps.2013-05-07.14.03.gps";
    const std::string beforeSleep = Sentences(60, 'a'); // more than a block of 1024 bytes
    receiver_.QueueInput(beforeSleep);
    Tick(8);
    ASSERT_EQ(files_.Files(), std::vector<std::string>{firstFile});
    ASSERT_EQ(files_.OpenFiles(), 1u);
    ASSERT_LT(files_.Contents(firstFile).size(), beforeSleep.size()) << "a part still pending";

    Power(standby);
    EXPECT_EQ(files_.OpenFiles(), 0u) << "closed before sleep";
    EXPECT_EQ(files_.Contents(firstFile), beforeSleep) << "with every byte received";

    // Asleep for a while; the machine wakes at 14:30.
    files_.SetLocalTime({2013, 5, 2, 7, 14, 30, 0, 0});
    Power(resumeStandby);
    Tick(30);
    ASSERT_TRUE(Hub().InputPortOpen());
    const std::string afterResume = Sentences(60, 'b');
    receiver_.QueueInput(afterResume);
    Tick(8);
    const std::string secondFile = "C:\\GPSLog\\Gps.2013-05-07.14.30.gps";
    EXPECT_EQ(files_.Files(), (std::vector<std::string>{firstFile, secondFile}));
    EXPECT_EQ(files_.Contents(firstFile), beforeSleep) << "the first file is done";
    const std::string second = files_.Contents(secondFile);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(second, afterResume.substr(0, second.size())) << "begins with the next data";
}

TEST_F(PowerEvents, WithoutAnInputPortGoingDownLeavesTheLoopAlone) {
    StoreNumber("Port", 0);
    PlugIn(12);
    StoreDevice(0, 12);
    Start();
    Tick(20);
    const uint32_t idleTicks = Hub().loop.idleTicks;
    Hub().loop.lastStatus = 1;
    Power(suspend);
    EXPECT_EQ(Hub().loop.idleTicks, idleTicks);
    EXPECT_EQ(Hub().loop.lastStatus, 1u);
    EXPECT_EQ(usb_.Changes().back(), "Stop 12") << "the devices stop all the same";
}

TEST_F(PowerEvents, BatterySaverOpensThePortAtTheFirstTickAfterResumeForAUser) {
    StoreOptions(OptionFlags::batterySaver);
    Start();
    uint32_t openError = 0;
    auto application = driver_.OpenPort(firstVirtualCom, openError);
    ASSERT_NE(application, nullptr);
    Tick();
    ASSERT_TRUE(Hub().InputPortOpen()) << "a user arrived";

    Power(suspend);
    ASSERT_FALSE(Hub().InputPortOpen());
    Tick(5);
    EXPECT_FALSE(Hub().InputPortOpen()) << "asleep: no idle re-open with Battery Saver";
    Power(resumeSuspend);
    Tick();
    EXPECT_TRUE(Hub().InputPortOpen()) << "the user is still there";
}

TEST_F(PowerEvents, ComingBackReadsTheSerialPortMapAgain) {
    StartAndSettle();
    ASSERT_FALSE(Hub().comDbBitmap.IsTaken(12));
    portMap_.Set({receiverCom, 12});

    Power(resumeSuspend); // devices never stopped: nothing is started, nothing read
    EXPECT_FALSE(Hub().comDbBitmap.IsTaken(12));

    Power(suspend);
    Power(resumeSuspend);
    EXPECT_TRUE(Hub().comDbBitmap.IsTaken(12)) << "a port that came back is known";
    EXPECT_EQ(Hub().search.portScanState[12].load(), 1);
}

TEST_F(PowerEvents, ASearchRunningAtResumeKeepsItsPortStates) {
    portMap_.Set({receiverCom, 5});
    StartAndSettle();
    ASSERT_TRUE(engine_.Search().FindGps());
    timing_.Advance(100);
    Tick();                                 // the search starts; its threads are still to run
    Hub().search.portScanState[5].store(4); // trying the third speed
    portMap_.Set({receiverCom, 5, 12});

    Power(suspend);
    Power(resumeSuspend);
    EXPECT_TRUE(Hub().comDbBitmap.IsTaken(12));
    EXPECT_EQ(Hub().search.portScanState[5].load(), 4);
    EXPECT_EQ(Hub().search.portScanState[12].load(), 0);
}

TEST_F(PowerEvents, UnpluggingTheReceiverWhileItsPortIsOpenStartsNoSearch) {
    StartAndSettle();
    // The adapter goes: the open handle fails, and so does every new open.
    receiver_.Fail(platform::testing::SerialOperation::ClearCommError, error::genFailure);
    receiver_.FailOpen(error::fileNotFound);
    engine_.DeviceChanged();
    EXPECT_EQ(Hub().loop.deviceChangeCountdown, 0u);
    Tick(20);
    EXPECT_EQ(threads_.StartCalls(), 0u);
    EXPECT_TRUE(Hub().InputPortOpen()) << "nothing noticed yet";

    // The idle re-open finds the port absent.
    Tick(150);
    EXPECT_FALSE(Hub().InputPortOpen());
    EXPECT_EQ(Hub().inputPort->lastOpenError, error::fileNotFound);
    EXPECT_EQ(threads_.StartCalls(), 0u);

    // Plugged in again while the port is closed: a search half a second after the last change.
    receiver_.Fail(platform::testing::SerialOperation::ClearCommError, error::success);
    receiver_.FailOpen(error::success);
    engine_.DeviceChanged();
    Tick(4);
    engine_.DeviceChanged();
    Tick(9);
    EXPECT_EQ(threads_.StartCalls(), 0u);
    Tick();
    timing_.Advance(100); // the closed port settles
    Tick();
    EXPECT_EQ(threads_.StartCalls(), 1u) << "COM3";
    EXPECT_EQ(Hub().search.scanning.load(), 1);
}

} // namespace
} // namespace tavro::testing
