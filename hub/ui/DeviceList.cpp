#include "hub/ui/DeviceList.h"

#include "platform/TextBuilder.h"

#include <string.h>

namespace tavro {

bool UsbDeviceList::ReadDevice(uint32_t index, DeviceListEntry& entry) {
    if (devices_ == nullptr) {
        return false;
    }
    switch (devices_->ReadRow(index, row_)) {
    case platform::UsbDeviceRead::End:
        return false;
    case platform::UsbDeviceRead::NoDescription:
        entry.described = false;
        entry.device = row_.device;
        return true;
    case platform::UsbDeviceRead::Read:
        break;
    }
    entry.described = true;
    entry.device = row_.device;
    static_assert(sizeof entry.description > sizeof row_.description);
    memcpy(entry.description, row_.description, sizeof row_.description);
    if (row_.hasService) {
        memcpy(entry.service, row_.service, sizeof row_.service);
    } else {
        entry.service[0] = '\0';
    }
    return true;
}

bool DeviceRows::Listed(const DeviceInfoData& device) const {
    for (uint32_t i = 0; i < count_; ++i) {
        if (platform::IsSameDevice(rows_[i], device)) {
            return true;
        }
    }
    return false;
}

void DeviceRows::Fill(DeviceListSource& source, MainWindowView& view,
                      const RestartDeviceTable& restart) {
    count_ = 0;
    view.PrepareDeviceList();
    DeviceListEntry& entry = entry_;
    for (uint32_t index = 0; count_ < capacity; ++index) {
        entry = DeviceListEntry{};
        if (!source.ReadDevice(index, entry)) {
            break;
        }
        if (!entry.described || Listed(entry.device)) {
            continue;
        }
        bool ticked = false;
        for (const RestartDevice& record : restart) {
            if (record.state == 0) {
                break;
            }
            if (platform::IsSameDevice(record.device, entry.device)) {
                ticked = true;
                break;
            }
        }
        // "%s (%s)": description and service, each at most 255 characters.
        char text[2 * DeviceListEntry::textSize + 4];
        entry.description[DeviceListEntry::textSize - 1] = '\0';
        entry.service[DeviceListEntry::textSize - 1] = '\0';
        platform::TextBuilder(text, sizeof text)
            .Append(entry.description)
            .Append(" (")
            .Append(entry.service)
            .Append(")");
        view.InsertDeviceRow(text, ticked);
        // The new row is the top one.
        memmove(&rows_[1], &rows_[0], count_ * sizeof rows_[0]);
        rows_[0] = entry.device;
        ++count_;
    }
}

uint32_t DeviceRows::TickedRows(MainWindowView& view, std::span<DeviceListRow> rows) const {
    uint32_t count = 0;
    for (uint32_t i = 0; i < count_ && count < rows.size(); ++i) {
        rows[count++] = DeviceListRow{view.DeviceRowTicked(i), rows_[i]};
    }
    return count;
}

} // namespace tavro
