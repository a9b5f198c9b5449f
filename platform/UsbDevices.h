// The present-USB device set: the devices of the "USB" enumerator that are plugged in, of every
// class, as the hub makes it once when the process starts. The hub reads their descriptions
// for the main window's device list and stops and starts the chosen ones around standby.
// Windows: SetupAPI (SetupDiGetClassDevsA with DIGCF_PRESENT | DIGCF_ALLCLASSES,
// SetupDiEnumDeviceInfo, SetupDiGetDeviceRegistryPropertyA, DIF_PROPERTYCHANGE through the
// class installer). POSIX: not supported (the set is never made, so every call fails).
// Tests: a scripted set.
#pragma once

#include <stdint.h>
#include <string.h>

namespace tavro::platform {

// What identifies a device of the set: the part of SP_DEVINFO_DATA the hub keeps. The Windows
// record is 28 bytes for 32-bit and 32 for 64-bit programs (its last word is a pointer); the
// adapter converts, and sets the size field itself. A device is the same device when class
// GUID and device instance are.
struct DeviceInfoData {
    uint8_t classGuid[16]; // the GUID as it lies in memory on Windows
    uint32_t devInst;      // device instance handle
    // The set's own word for the device (SP_DEVINFO_DATA.Reserved); 0 when the record did not
    // come from the set (loaded from the settings). Operations accept a record only when this
    // word is the one the set gave out for the device.
    uint64_t reserved;
};

inline bool IsSameDevice(const DeviceInfoData& a, const DeviceInfoData& b) {
    return a.devInst == b.devInst && memcmp(a.classGuid, b.classGuid, sizeof a.classGuid) == 0;
}

// The device properties the hub reads (SPDRP_DEVICEDESC, SPDRP_SERVICE).
enum class DeviceProperty : uint32_t {
    Description = 0x00, // "USB Mass Storage Device"
    Service = 0x04,     // the driver service's name, "USBSTOR"
};

// State changes of DIF_PROPERTYCHANGE (DICS_ENABLE, DICS_START, DICS_STOP), always with the
// global scope (DICS_FLAG_GLOBAL) and hardware profile 0.
enum class DeviceStateChange : uint32_t {
    Enable = 1,
    Start = 4,
    Stop = 5,
};

// Property texts are read into buffers of this size; a longer text cannot be read.
inline constexpr uint32_t deviceTextSize = 255;

// One device of the set as a device list shows it: "%s (%s)" of description and service.
struct UsbDeviceRow {
    DeviceInfoData device;
    char description[deviceTextSize];
    char service[deviceTextSize]; // empty when hasService is false
    bool hasService;
};

enum class UsbDeviceRead : uint8_t {
    End,           // no device at this index: the walk is over (also without a set)
    NoDescription, // a device whose description cannot be read: skip it
    Read,          // the row is filled
};

class UsbDevices {
public:
    // Makes the set (process entry); false when it could not be made, and every operation
    // below then fails. A set that exists is kept.
    virtual bool Open() = 0;
    // Destroys the set (process exit). Safe without one.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // The device at `index` of the set (0, 1, … as SetupDiEnumDeviceInfo counts); false past
    // the last one and without a set.
    virtual bool Device(uint32_t index, DeviceInfoData& device) = 0;

    // Reads a text property of `device` into `text` (`size` bytes, always terminated; empty
    // on failure). False when the device is not this set's, the property is missing or does
    // not fit.
    virtual bool Property(const DeviceInfoData& device, DeviceProperty property, char* text,
                          uint32_t size) = 0;

    // ChangeDeviceState: sets the property-change parameters for `change` on the device and
    // calls its class installer. True only when both succeeded. A device that is not this
    // set's (not present when the set was made, or a record not taken from the set) fails.
    virtual bool ChangeState(const DeviceInfoData& device, DeviceStateChange change) = 0;

    // The walk a device list and the power handling's start-up share: the device at `index`
    // with its description and, when it can be read, its service name.
    UsbDeviceRead ReadRow(uint32_t index, UsbDeviceRow& row) {
        row = UsbDeviceRow{};
        if (!Device(index, row.device)) {
            return UsbDeviceRead::End;
        }
        if (!Property(row.device, DeviceProperty::Description, row.description,
                      sizeof row.description)) {
            return UsbDeviceRead::NoDescription;
        }
        row.hasService =
            Property(row.device, DeviceProperty::Service, row.service, sizeof row.service);
        return UsbDeviceRead::Read;
    }

protected:
    // Never destroyed through this interface: the edition's set lives as long as the program.
    ~UsbDevices() = default;
};

// The adapter of the edition this program was built for.
UsbDevices& SystemUsbDevices();

} // namespace tavro::platform
