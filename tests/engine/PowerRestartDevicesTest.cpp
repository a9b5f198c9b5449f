// The restart devices on the present-USB device set: the walk the device lists share, the
// bring-up at the message window's start, what bit 1 records through standby and resume, the
// device set's life at process entry and exit, and a hub whose set could not be made.
#include "tests/engine/PowerFixture.h"

#include "hub/engine/RestartDevices.h"
#include "platform/DisplayPower.h"
#include "platform/testing/FakeRunningHub.h"

#include <gtest/gtest.h>

namespace tavro::testing {
namespace {

using platform::DeviceStateChange;
using platform::UsbDeviceRead;
using platform::UsbDeviceRow;
using platform::testing::FakeUsbDevices;
using Changes = std::vector<std::string>;

constexpr uint32_t bothBits = restartDeviceListed | restartDeviceRestart;

TEST(UsbDeviceRows, TheWalkGivesDescriptionAndServiceAndSkipsWhatCannotBeRead) {
    FakeUsbDevices usb;
    usb.Add({usbClass, 21, "USB Composite Device", "usbccgp"});
    usb.Add({usbClass, 22, "Unknown", "", false, true});
    usb.Add({usbClass, 23, "USB-Serial Controller", "", true, false});
    usb.Add({usbClass, 24, std::string(platform::deviceTextSize, 'x'), "long"});
    ASSERT_TRUE(usb.Open());

    UsbDeviceRow row;
    ASSERT_EQ(usb.ReadRow(0, row), UsbDeviceRead::Read);
    EXPECT_STREQ(row.description, "USB Composite Device");
    EXPECT_TRUE(row.hasService);
    EXPECT_STREQ(row.service, "usbccgp");
    EXPECT_EQ(row.device.devInst, 21u);
    EXPECT_NE(row.device.reserved, 0u) << "the set's own record";

    EXPECT_EQ(usb.ReadRow(1, row), UsbDeviceRead::NoDescription);
    ASSERT_EQ(usb.ReadRow(2, row), UsbDeviceRead::Read);
    EXPECT_FALSE(row.hasService);
    EXPECT_STREQ(row.service, "");
    EXPECT_EQ(usb.ReadRow(3, row), UsbDeviceRead::NoDescription)
        << "a description that does not fit its 255 bytes";
    EXPECT_EQ(usb.ReadRow(4, row), UsbDeviceRead::End);

    usb.Close();
    EXPECT_EQ(usb.ReadRow(0, row), UsbDeviceRead::End) << "no set, no devices";
}

TEST(UsbDeviceRows, ThePosixEditionHasNoSetAndSwitchesNoDisplay) {
    platform::UsbDevices& usb = platform::SystemUsbDevices();
    EXPECT_FALSE(usb.Open());
    EXPECT_FALSE(usb.IsOpen());
    UsbDeviceRow row;
    EXPECT_EQ(usb.ReadRow(0, row), UsbDeviceRead::End);
    EXPECT_FALSE(usb.ChangeState(FakeUsbDevices::Record(usbClass, 1), DeviceStateChange::Stop));
    EXPECT_FALSE(platform::SystemDisplayPower().SetDisplayPower(platform::DisplayState::Off));
}

class RestartDevices : public PowerFixture {};

TEST_F(RestartDevices, TheBringUpEnablesAndStartsEveryListedDeviceThatIsPresent) {
    PlugIn(11, "USB Mouse"); // present, not listed
    const DeviceInfoData adapter = PlugIn(12, "USB-Serial Adapter");
    PlugIn(13, "Card Reader");
    usb_.Refuse(13, DeviceStateChange::Enable);
    PlugIn(14, "Hub");
    usb_.Refuse(14, DeviceStateChange::Start);
    usb_.Add({usbClass, 15, "", "", false, true}); // its description cannot be read
    // Listed in another order than the set's; 16 is not plugged in.
    StoreDevice(0, 16);
    StoreDevice(1, 14);
    StoreDevice(2, 15);
    StoreDevice(3, 13);
    StoreDevice(4, 12);

    Start();

    EXPECT_EQ(usb_.Changes(), (Changes{"Enable 12", "Start 12", "Enable 13 refused", "Enable 14",
                                       "Start 14 refused"}))
        << "in the set's order";
    EXPECT_EQ(Record(4).state, bothBits);
    EXPECT_EQ(Record(4).device.reserved, adapter.reserved) << "the set's record was copied";
    EXPECT_EQ(Record(3).state, restartDeviceListed) << "enabling failed";
    EXPECT_EQ(Record(1).state, restartDeviceListed) << "starting failed";
    EXPECT_EQ(Record(2).state, restartDeviceListed);
    EXPECT_EQ(Record(2).device.reserved, 0u) << "skipped: no description";
    EXPECT_EQ(Record(0).device.reserved, 0u) << "not present";
    EXPECT_EQ(Record(5).state, 0u);
    EXPECT_EQ(Hub().loop.devicesActive, 1u);
}

TEST_F(RestartDevices, AClassGuidOfAnotherClassIsAnotherDevice) {
    usb_.Add({0x77, 12, "Modem", "usbser"});
    StoreDevice(0, 12, usbClass);
    Start();
    EXPECT_TRUE(usb_.Changes().empty());
    EXPECT_EQ(Record(0).state, restartDeviceListed);
}

TEST_F(RestartDevices, ADeviceListedTwiceIsBroughtUpOnceAndItsSecondRecordFailsEveryChange) {
    PlugIn(12);
    StoreDevice(0, 12);
    StoreDevice(1, 12);
    Start();
    EXPECT_EQ(usb_.Changes(), (Changes{"Enable 12", "Start 12"}));
    EXPECT_EQ(Record(0).state, bothBits);
    EXPECT_EQ(Record(1).state, restartDeviceListed);

    usb_.ClearChanges();
    Power(suspend);
    EXPECT_EQ(usb_.Changes(), (Changes{"Stop 12", "Stop 12 refused"}));
}

TEST_F(RestartDevices, BitOneMarksTheStartedDevicesAtFirstAndTheFailedOnesAfterAResume) {
    PlugIn(12);
    PlugIn(13);
    StoreDevice(0, 12);
    StoreDevice(1, 13);
    StoreDevice(2, 14); // not present
    StartAndSettle();
    // At the end of the start's countdown the devices that came up were enabled and started
    // once more; what failed at the bring-up was not tried again.
    ASSERT_EQ(Record(0).state, bothBits);
    ASSERT_EQ(Record(2).state, restartDeviceListed);

    Power(standby);
    EXPECT_EQ(usb_.Changes(), (Changes{"Stop 12", "Stop 13", "Stop 14 refused"}));
    EXPECT_FALSE(usb_.Running(12));
    for (uint32_t n = 0; n < 3; ++n) {
        EXPECT_EQ(Record(n).state, restartDeviceListed) << "cleared whatever the result";
    }
    EXPECT_EQ(Hub().loop.devicesActive, 0u);

    usb_.ClearChanges();
    usb_.Refuse(13, DeviceStateChange::Start);
    Power(resumeStandby);
    EXPECT_EQ(usb_.Changes(), (Changes{"Start 12", "Start 13 refused", "Start 14 refused"}));
    EXPECT_TRUE(usb_.Running(12));
    EXPECT_EQ(Record(0).state, restartDeviceListed);
    EXPECT_EQ(Record(1).state, bothBits);
    EXPECT_EQ(Record(2).state, bothBits);
    EXPECT_EQ(Hub().loop.devicesActive, 1u);

    // Five seconds later the failed ones are enabled and started again; results are ignored.
    usb_.ClearChanges();
    Tick(videoCountdownStart - 1);
    EXPECT_TRUE(usb_.Changes().empty());
    usb_.Refuse(13, DeviceStateChange::Start, false);
    Tick();
    EXPECT_EQ(usb_.Changes(),
              (Changes{"Enable 13", "Start 13", "Enable 14 refused", "Start 14 refused"}));
    EXPECT_TRUE(usb_.Running(13));
    EXPECT_EQ(Record(1).state, bothBits) << "left as it was";
    EXPECT_EQ(Record(2).state, bothBits);
}

TEST_F(RestartDevices, WithoutASetEveryDeviceOperationFailsQuietlyAndTheHubRuns) {
    PlugIn(12);
    StoreDevice(0, 12);
    usb_.FailOpen(true);
    Start();
    EXPECT_FALSE(usb_.IsOpen());
    EXPECT_TRUE(usb_.Changes().empty());
    EXPECT_EQ(Record(0).state, restartDeviceListed);

    Power(suspend);
    Power(resumeSuspend);
    EXPECT_EQ(usb_.Changes(), (Changes{"Stop 12 refused", "Start 12 refused"}));
    EXPECT_EQ(Record(0).state, bothBits) << "the start failed";
    Tick(videoCountdownStart);
    EXPECT_TRUE(Hub().InputPortOpen());
}

TEST_F(RestartDevices, TheMessageWindowsEndStopsTheDevices) {
    PlugIn(12);
    StoreDevice(0, 12);
    StartAndSettle();
    engine_.Destroy();
    EXPECT_EQ(usb_.Changes(), (Changes{"Stop 12"}));
    EXPECT_EQ(Record(0).state, restartDeviceListed);
    EXPECT_EQ(Hub().loop.devicesActive, 0u);

    // Power messages after the end change nothing: nothing was brought up any more.
    usb_.ClearChanges();
    Power(resumeSuspend);
    EXPECT_TRUE(usb_.Changes().empty());
}

TEST_F(RestartDevices, PowerMessagesBeforeTheMessageWindowStartsAreIgnored) {
    PlugIn(12);
    StoreDevice(0, 12);
    engine_.MakeUsbDeviceSet();
    Power(resumeSuspend);
    Power(suspend);
    EXPECT_TRUE(usb_.Changes().empty());
    EXPECT_EQ(Hub().loop.devicesActive, 0u);
    EXPECT_EQ(Hub().loop.videoCountdown, 0u);
}

// Process entry and exit around the message loop.
class SetWatchingLoop final : public MessageLoop {
public:
    explicit SetWatchingLoop(const FakeUsbDevices& usb) : usb_(usb) {}
    void Run(HubEngine& engine) override {
        setOpenAtStart = usb_.IsOpen();
        engine.InitDialog();
        engine.Tick();
        engine.Destroy();
        setOpenAtEnd = usb_.IsOpen();
    }
    bool setOpenAtStart = false;
    bool setOpenAtEnd = false;

private:
    const FakeUsbDevices& usb_;
};

TEST_F(RestartDevices, TheSetIsMadeForTheWholeRunAndDestroyedAfterIt) {
    PlugIn(12);
    StoreDevice(0, 12);
    platform::testing::FakeRunningHub running;
    SetWatchingLoop loop(usb_);
    EXPECT_EQ(HubMain("", engine_, running, loop), 0);
    EXPECT_TRUE(loop.setOpenAtStart);
    EXPECT_TRUE(loop.setOpenAtEnd) << "the devices are stopped while the set exists";
    EXPECT_EQ(usb_.Changes(), (Changes{"Enable 12", "Start 12", "Stop 12"}));
    EXPECT_EQ(usb_.Opens(), 1u);
    EXPECT_EQ(usb_.Closes(), 1u);
}

TEST_F(RestartDevices, ASecondStartMakesNoSet) {
    platform::testing::FakeRunningHub running;
    running.SetRunning(true);
    SetWatchingLoop loop(usb_);
    EXPECT_EQ(HubMain("", engine_, running, loop), 0);
    EXPECT_EQ(usb_.Opens(), 0u);
}

} // namespace
} // namespace tavro::testing
