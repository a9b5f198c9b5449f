#include "platform/testing/FakeUsbDevices.h"

namespace tavro::platform::testing {
namespace {

// The set's own word for its n-th device: never 0, as no record from elsewhere carries it.
constexpr uint64_t setWordBase = 0x5E7000;

const char* ChangeName(DeviceStateChange change) {
    switch (change) {
    case DeviceStateChange::Enable:
        return "Enable";
    case DeviceStateChange::Start:
        return "Start";
    case DeviceStateChange::Stop:
        return "Stop";
    }
    return "Change";
}

bool CopyText(const std::string& value, char* text, uint32_t size) {
    if (value.size() + 1 > size) {
        return false;
    }
    value.copy(text, value.size());
    text[value.size()] = '\0';
    return true;
}

} // namespace

DeviceInfoData FakeUsbDevices::Record(uint8_t classTag, uint32_t devInst) {
    DeviceInfoData record{};
    memset(record.classGuid, classTag, sizeof record.classGuid);
    record.devInst = devInst;
    return record;
}

DeviceInfoData FakeUsbDevices::Add(const FakeUsbDevice& device) {
    Entry entry{device, Record(device.classTag, device.devInst)};
    entry.record.reserved = setWordBase + devices_.size() + 1;
    devices_.push_back(entry);
    return entry.record;
}

void FakeUsbDevices::Refuse(uint32_t devInst, DeviceStateChange change, bool refuse) {
    if (refuse) {
        refused_.insert({devInst, change});
    } else {
        refused_.erase({devInst, change});
    }
}

bool FakeUsbDevices::Running(uint32_t devInst) const {
    for (const Entry& entry : devices_) {
        if (entry.device.devInst == devInst) {
            return entry.running;
        }
    }
    return false;
}

bool FakeUsbDevices::Open() {
    ++opens_;
    if (!open_ && !failOpen_) {
        open_ = true;
    }
    return open_;
}

void FakeUsbDevices::Close() {
    if (open_) {
        ++closes_;
        open_ = false;
    }
}

bool FakeUsbDevices::Device(uint32_t index, DeviceInfoData& device) {
    if (!open_ || index >= devices_.size()) {
        return false;
    }
    device = devices_[index].record;
    return true;
}

bool FakeUsbDevices::Property(const DeviceInfoData& device, DeviceProperty property, char* text,
                              uint32_t size) {
    if (text == nullptr || size == 0) {
        return false;
    }
    text[0] = '\0';
    const Entry* entry = Find(device);
    if (entry == nullptr) {
        return false;
    }
    if (property == DeviceProperty::Description) {
        return entry->device.hasDescription && CopyText(entry->device.description, text, size);
    }
    return entry->device.hasService && CopyText(entry->device.service, text, size);
}

bool FakeUsbDevices::ChangeState(const DeviceInfoData& device, DeviceStateChange change) {
    Entry* entry = Find(device);
    const bool accepted = entry != nullptr && refused_.count({entry->device.devInst, change}) == 0;
    std::string line = std::string(ChangeName(change)) + " " + std::to_string(device.devInst);
    if (!accepted) {
        line += " refused";
    }
    changes_.push_back(line);
    if (accepted && change != DeviceStateChange::Enable) {
        entry->running = change == DeviceStateChange::Start;
    }
    return accepted;
}

FakeUsbDevices::Entry* FakeUsbDevices::Find(const DeviceInfoData& record) {
    if (!open_) {
        return nullptr;
    }
    for (Entry& entry : devices_) {
        if (IsSameDevice(entry.record, record) && entry.record.reserved == record.reserved) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace tavro::platform::testing
