// The restart devices on the present-USB device set: the start-up's bring-up and the state
// changes around standby. The table is the one the settings store loads ("Dev%d"); it ends at
// the first record whose state is 0. Bit 1 (restartDeviceRestart) marks, after the bring-up,
// the devices that were enabled and started, and after a resume the devices whose start
// failed: those are enabled and started once more when the video countdown ends.
//
// Every failure is silent; only bit 1 records it. A listed device that is not in the set fails
// every state change, and so does every device when there is no set (`usbDevices` null).
#pragma once

#include "hub/settings/RestartDevice.h"
#include "platform/UsbDevices.h"

namespace tavro {

// The table holds no listed device.
bool RestartListEmpty(const RestartDeviceTable& devices);

// The bring-up at the message window's start: for every device of the set whose description
// can be read, the first record of the same device (class GUID and device instance) takes the
// set's record of it and the device is enabled (failure: bit 1 cleared) and then started
// (success: bit 1 set).
void BringUpRestartDevices(platform::UsbDevices* usbDevices, RestartDeviceTable& devices);

// Every record: stop, then clear bit 1 whatever the result.
void StopDevices(platform::UsbDevices* usbDevices, RestartDeviceTable& devices);

// Every record: start; success clears bit 1, failure sets it.
void StartDevices(platform::UsbDevices* usbDevices, RestartDeviceTable& devices);

// Every record with bit 1: enable, then start. Results are ignored and bit 1 stays.
void RetryFlaggedDevices(platform::UsbDevices* usbDevices, RestartDeviceTable& devices);

} // namespace tavro
