// The main window's device list (control 1022): the present USB devices, from which the user
// ticks those to stop before standby and start again after it (the restart devices). A
// DeviceListSource reads the devices (Windows: the SetupAPI set of the "USB" enumerator);
// DeviceRows keeps what each row stands for while the window is open.
#pragma once

#include "hub/settings/RestartDevice.h"
#include "hub/settings/SettingsStore.h"
#include "hub/ui/MainWindowView.h"
#include "platform/UsbDevices.h"

#include <span>
#include <stdint.h>

namespace tavro {

// One device as the list shows it.
struct DeviceListEntry {
    static constexpr uint32_t textSize = 256; // SPDRP_* buffers of 255 characters

    bool described = false;          // its description could be read; others are not listed
    char description[textSize] = {}; // SPDRP_DEVICEDESC
    char service[textSize] = {};     // SPDRP_SERVICE, empty when it could not be read
    DeviceInfoData device{};
};

class DeviceListSource {
public:
    virtual ~DeviceListSource() = default;
    // Fills `entry` with the device at `index` of the set (0, 1, …); false once `index` is past
    // the last device, or when there is no set.
    virtual bool ReadDevice(uint32_t index, DeviceListEntry& entry) = 0;
};

// For editions and runs without USB devices to offer: the list stays empty.
class NoDeviceList final : public DeviceListSource {
public:
    bool ReadDevice(uint32_t, DeviceListEntry&) override { return false; }
};

// The devices of the hub's present-USB set (the one the power handling stops and starts), so a
// ticked row carries the very record that set hands out; null: no set, the list stays empty.
class UsbDeviceList final : public DeviceListSource {
public:
    explicit UsbDeviceList(platform::UsbDevices* devices) : devices_(devices) {}
    bool ReadDevice(uint32_t index, DeviceListEntry& entry) override;

private:
    platform::UsbDevices* devices_;
    platform::UsbDeviceRow row_{}; // the device being read
};

class DeviceRows {
public:
    // Rows beyond this many are not listed (far more USB devices than a machine has).
    static constexpr uint32_t capacity = 128;

    // Prepares the list and fills it: each described device that is not listed yet becomes a
    // row "description (service)" at the top, its box ticked when it is one of `restart`.
    void Fill(DeviceListSource& source, MainWindowView& view, const RestartDeviceTable& restart);

    // The rows from the top with their boxes as the view shows them now, into `rows` (at least
    // `capacity` long). Returns how many.
    uint32_t TickedRows(MainWindowView& view, std::span<DeviceListRow> rows) const;

    uint32_t Count() const { return count_; }

private:
    bool Listed(const DeviceInfoData& device) const;

    // The rows from the top, as the view shows them.
    DeviceInfoData rows_[capacity] = {};
    uint32_t count_ = 0;
    DeviceListEntry entry_; // the device being read
};

} // namespace tavro
