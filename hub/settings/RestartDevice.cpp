#include "hub/settings/RestartDevice.h"

#include <string.h>

namespace tavro {

void EncodeDeviceValue(const DeviceInfoData& device, uint8_t (&value)[deviceValueSize]) {
    memcpy(value, device.classGuid, sizeof device.classGuid);
    for (int i = 0; i < 4; ++i) {
        value[16 + i] = static_cast<uint8_t>(device.devInst >> (8 * i));
    }
}

DeviceInfoData DecodeDeviceValue(const uint8_t (&value)[deviceValueSize]) {
    DeviceInfoData device{};
    memcpy(device.classGuid, value, sizeof device.classGuid);
    for (int i = 0; i < 4; ++i) {
        device.devInst |= static_cast<uint32_t>(value[16 + i]) << (8 * i);
    }
    return device;
}

} // namespace tavro
