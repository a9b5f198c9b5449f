// The main window's device list reads the hub's own present-USB set, so a row the user ticks
// carries a record that set accepts when the device is stopped and started around standby.
#include "hub/ui/DeviceList.h"
#include "platform/testing/FakeUsbDevices.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro {
namespace {

using platform::DeviceStateChange;
using platform::testing::FakeUsbDevice;
using platform::testing::FakeUsbDevices;

TEST(UsbDeviceList, RowsCarryTheSetsOwnRecordsAndSkipUndescribedDevices) {
    FakeUsbDevices set;
    set.Add(FakeUsbDevice{0x11, 7, "USB Mass Storage Device", "USBSTOR"});
    set.Add(FakeUsbDevice{0x22, 8, "", "", false, false});
    set.Add(FakeUsbDevice{0x33, 9, "USB Serial Converter", "", true, false});
    ASSERT_TRUE(set.Open());
    UsbDeviceList list(&set);

    DeviceListEntry entry;
    ASSERT_TRUE(list.ReadDevice(0, entry));
    EXPECT_TRUE(entry.described);
    EXPECT_EQ(std::string(entry.description), "USB Mass Storage Device");
    EXPECT_EQ(std::string(entry.service), "USBSTOR");
    // The record works with the set: the power handling can stop and start the device.
    EXPECT_TRUE(set.ChangeState(entry.device, DeviceStateChange::Stop));
    EXPECT_FALSE(set.Running(7));

    entry = DeviceListEntry{};
    ASSERT_TRUE(list.ReadDevice(1, entry)) << "the walk goes on past an undescribed device";
    EXPECT_FALSE(entry.described);

    entry = DeviceListEntry{};
    ASSERT_TRUE(list.ReadDevice(2, entry));
    EXPECT_TRUE(entry.described);
    EXPECT_EQ(std::string(entry.service), "");

    EXPECT_FALSE(list.ReadDevice(3, entry));
}

TEST(UsbDeviceList, WithoutASetTheListIsEmpty) {
    DeviceListEntry entry;
    UsbDeviceList none(nullptr);
    EXPECT_FALSE(none.ReadDevice(0, entry));

    FakeUsbDevices unopened;
    unopened.Add(FakeUsbDevice{0x11, 7, "USB Mass Storage Device", "USBSTOR"});
    UsbDeviceList list(&unopened);
    EXPECT_FALSE(list.ReadDevice(0, entry));
}

} // namespace
} // namespace tavro
