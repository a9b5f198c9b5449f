#include "hub/engine/RestartDevices.h"

namespace tavro {
namespace {

using platform::DeviceStateChange;

// The records in use: up to the first whose state is 0, at most the whole table.
template <typename Table, typename Visit>
void ForEachListed(Table& devices, Visit visit) {
    for (auto& entry : devices) {
        if (entry.state == 0) {
            return;
        }
        visit(entry);
    }
}

RestartDevice* FirstRecordOf(RestartDeviceTable& devices, const DeviceInfoData& device) {
    RestartDevice* found = nullptr;
    ForEachListed(devices, [&](RestartDevice& entry) {
        if (found == nullptr && platform::IsSameDevice(entry.device, device)) {
            found = &entry;
        }
    });
    return found;
}

bool Change(platform::UsbDevices* usbDevices, const DeviceInfoData& device,
            DeviceStateChange change) {
    return usbDevices != nullptr && usbDevices->ChangeState(device, change);
}

} // namespace

bool RestartListEmpty(const RestartDeviceTable& devices) {
    return devices[0].state == 0;
}

void BringUpRestartDevices(platform::UsbDevices* usbDevices, RestartDeviceTable& devices) {
    if (usbDevices == nullptr || RestartListEmpty(devices)) {
        return;
    }
    DeviceInfoData device;
    char description[platform::deviceTextSize];
    for (uint32_t index = 0; usbDevices->Device(index, device); ++index) {
        if (!usbDevices->Property(device, platform::DeviceProperty::Description, description,
                                  sizeof description)) {
            continue;
        }
        RestartDevice* entry = FirstRecordOf(devices, device);
        if (entry == nullptr) {
            continue;
        }
        entry->device = device;
        if (!Change(usbDevices, entry->device, DeviceStateChange::Enable)) {
            entry->state &= ~restartDeviceRestart;
        } else if (Change(usbDevices, entry->device, DeviceStateChange::Start)) {
            entry->state |= restartDeviceRestart;
        }
    }
}

void StopDevices(platform::UsbDevices* usbDevices, RestartDeviceTable& devices) {
    ForEachListed(devices, [&](RestartDevice& entry) {
        Change(usbDevices, entry.device, DeviceStateChange::Stop);
        entry.state &= ~restartDeviceRestart;
    });
}

void StartDevices(platform::UsbDevices* usbDevices, RestartDeviceTable& devices) {
    ForEachListed(devices, [&](RestartDevice& entry) {
        if (Change(usbDevices, entry.device, DeviceStateChange::Start)) {
            entry.state &= ~restartDeviceRestart;
        } else {
            entry.state |= restartDeviceRestart;
        }
    });
}

void RetryFlaggedDevices(platform::UsbDevices* usbDevices, RestartDeviceTable& devices) {
    ForEachListed(devices, [&](RestartDevice& entry) {
        if ((entry.state & restartDeviceRestart) != 0) {
            Change(usbDevices, entry.device, DeviceStateChange::Enable);
            Change(usbDevices, entry.device, DeviceStateChange::Start);
        }
    });
}

} // namespace tavro
