// A present-USB device set for tests: the devices a test plugs in before the set is made, each
// with its description and service (either may be unreadable), state changes that succeed or
// are refused as the test says, and a record of every change asked for.
//
// Like the system's set, it knows a device only by the record it gave out: class GUID, device
// instance and the set's own word together. A record loaded from the settings (word 0) fails.
// Not thread-safe: the hub uses its set on the message window's thread only.
#pragma once

#include "platform/UsbDevices.h"

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tavro::platform::testing {

struct FakeUsbDevice {
    uint8_t classTag = 0; // every byte of the class GUID
    uint32_t devInst = 0;
    std::string description;
    std::string service;
    bool hasDescription = true;
    bool hasService = true;
};

class FakeUsbDevices final : public UsbDevices {
public:
    // The record of a device with class GUID `classTag` (every byte) and `devInst` as the
    // settings store loads it: no word of the set.
    static DeviceInfoData Record(uint8_t classTag, uint32_t devInst);

    // Plugs a device in: the set lists it after those added before. Returns the record the set
    // gives out for it.
    DeviceInfoData Add(const FakeUsbDevice& device);

    // Open fails (the system could not make the set) while set.
    void FailOpen(bool fail) { failOpen_ = fail; }
    // The device refuses `change` from now on (or accepts it again).
    void Refuse(uint32_t devInst, DeviceStateChange change, bool refuse = true);

    // Every state change asked for, in order: "Enable 17", "Start 17", "Stop 17", with
    // " refused" added when it failed (whatever the reason).
    const std::vector<std::string>& Changes() const { return changes_; }
    void ClearChanges() { changes_.clear(); }
    // Whether the device's last accepted change left it running (all devices run at first).
    bool Running(uint32_t devInst) const;
    uint32_t Opens() const { return opens_; }
    uint32_t Closes() const { return closes_; }

    // ---- UsbDevices --------------------------------------------------------------------------

    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    bool Device(uint32_t index, DeviceInfoData& device) override;
    bool Property(const DeviceInfoData& device, DeviceProperty property, char* text,
                  uint32_t size) override;
    bool ChangeState(const DeviceInfoData& device, DeviceStateChange change) override;

private:
    struct Entry {
        FakeUsbDevice device;
        DeviceInfoData record;
        bool running = true;
    };

    // The set's entry for `record`, null when the set has none (or there is no set).
    Entry* Find(const DeviceInfoData& record);

    std::vector<Entry> devices_;
    std::set<std::pair<uint32_t, DeviceStateChange>> refused_;
    std::vector<std::string> changes_;
    bool failOpen_ = false;
    bool open_ = false;
    uint32_t opens_ = 0;
    uint32_t closes_ = 0;
};

} // namespace tavro::platform::testing
