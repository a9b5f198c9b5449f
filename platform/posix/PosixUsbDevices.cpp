// No present-USB device set on POSIX: devices are bound to their drivers by the kernel and
// stopping them is the system's business, not a tray program's. The set is never made, so the
// device list stays empty and every state change fails, as with a set that could not be made.
#include "platform/UsbDevices.h"

namespace tavro::platform {
namespace {

class PosixUsbDevices final : public UsbDevices {
public:
    bool Open() override { return false; }
    void Close() override {}
    bool IsOpen() const override { return false; }
    bool Device(uint32_t, DeviceInfoData&) override { return false; }
    bool Property(const DeviceInfoData&, DeviceProperty, char* text, uint32_t size) override {
        if (text != nullptr && size != 0) {
            text[0] = '\0';
        }
        return false;
    }
    bool ChangeState(const DeviceInfoData&, DeviceStateChange) override { return false; }
};

} // namespace

UsbDevices& SystemUsbDevices() {
    static PosixUsbDevices devices;
    return devices;
}

} // namespace tavro::platform
