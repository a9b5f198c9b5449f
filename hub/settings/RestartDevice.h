// The USB devices the hub stops before standby and starts again after it, as the settings
// store keeps them ("Dev%d") and the power handling uses them.
#pragma once

#include "platform/UsbDevices.h"

#include <array>
#include <stdint.h>

namespace tavro {

inline constexpr uint32_t restartDeviceCapacity = 64;

// State bits of a RestartDevice.
inline constexpr uint32_t restartDeviceListed = 1;  // the record is in use
inline constexpr uint32_t restartDeviceRestart = 2; // set by the power handling, see there

// What identifies a device of the USB device set: class GUID, device instance and the set's
// own word (see platform/UsbDevices.h).
using DeviceInfoData = platform::DeviceInfoData;

struct RestartDevice {
    DeviceInfoData device;
    uint32_t state; // restartDeviceListed | restartDeviceRestart; 0 ends the table
};

// The table ends at the first record whose state is 0.
using RestartDeviceTable = std::array<RestartDevice, restartDeviceCapacity>;

// A "Dev%d" value: the class GUID and then the device instance, little-endian, 20 bytes.
inline constexpr uint32_t deviceValueSize = 20;

void EncodeDeviceValue(const DeviceInfoData& device, uint8_t (&value)[deviceValueSize]);
DeviceInfoData DecodeDeviceValue(const uint8_t (&value)[deviceValueSize]);

} // namespace tavro
