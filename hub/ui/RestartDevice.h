// The USB devices the hub stops before standby and starts again after it, as the settings
// store keeps them ("Dev%d") and the power handling uses them.
#pragma once

#include <array>
#include <stdint.h>

namespace tavro {

inline constexpr uint32_t restartDeviceCapacity = 64;

// State bits of a RestartDevice.
inline constexpr uint32_t restartDeviceListed = 1;  // the record is in use
inline constexpr uint32_t restartDeviceRestart = 2; // set by the power handling, see there

// What identifies a device of the USB device set: the part of SP_DEVINFO_DATA the hub needs.
// SP_DEVINFO_DATA itself is 28 bytes for 32-bit and 32 for 64-bit Windows (its last word is
// a pointer); the device-set adapter converts, and sets the size field itself. A device is the
// same device when class GUID and device instance are.
struct DeviceInfoData {
    uint8_t classGuid[16]; // the GUID as it lies in memory on Windows
    uint32_t devInst;      // device instance handle
    uint64_t reserved;     // SP_DEVINFO_DATA.Reserved of the set it came from; 0 when loaded
};

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
