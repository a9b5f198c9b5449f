// The present-USB device set through SetupAPI.
#include "platform/UsbDevices.h"

#include <windows.h>

#include <setupapi.h>

namespace tavro::platform {
namespace {

class Win32UsbDevices final : public UsbDevices {
public:
    bool Open() override {
        if (set_ != nullptr) {
            return true;
        }
        HDEVINFO set =
            SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
        set_ = set == INVALID_HANDLE_VALUE ? nullptr : set;
        return set_ != nullptr;
    }

    void Close() override {
        if (set_ != nullptr) {
            SetupDiDestroyDeviceInfoList(set_);
            set_ = nullptr;
        }
    }

    bool IsOpen() const override { return set_ != nullptr; }

    bool Device(uint32_t index, DeviceInfoData& device) override {
        SP_DEVINFO_DATA data;
        if (!Enumerate(index, data)) {
            return false;
        }
        memcpy(device.classGuid, &data.ClassGuid, sizeof device.classGuid);
        device.devInst = data.DevInst;
        device.reserved = static_cast<uint64_t>(data.Reserved);
        return true;
    }

    bool Property(const DeviceInfoData& device, DeviceProperty property, char* text,
                  uint32_t size) override {
        if (text == nullptr || size == 0) {
            return false;
        }
        text[0] = '\0';
        SP_DEVINFO_DATA data;
        if (size < 2 || !Find(device, data)) {
            return false;
        }
        // One byte kept back for a terminator the stored text may lack.
        if (!SetupDiGetDeviceRegistryPropertyA(set_, &data, static_cast<DWORD>(property), nullptr,
                                               reinterpret_cast<BYTE*>(text), size - 1, nullptr)) {
            text[0] = '\0';
            return false;
        }
        text[size - 1] = '\0';
        return true;
    }

    bool ChangeState(const DeviceInfoData& device, DeviceStateChange change) override {
        SP_DEVINFO_DATA data;
        if (!Find(device, data)) {
            return false;
        }
        SP_PROPCHANGE_PARAMS params;
        params.ClassInstallHeader.cbSize = sizeof params.ClassInstallHeader;
        params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
        params.StateChange = static_cast<DWORD>(change);
        params.Scope = DICS_FLAG_GLOBAL;
        params.HwProfile = 0;
        return SetupDiSetClassInstallParamsA(set_, &data, &params.ClassInstallHeader,
                                             sizeof params) &&
               SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set_, &data);
    }

private:
    bool Enumerate(uint32_t index, SP_DEVINFO_DATA& data) {
        if (set_ == nullptr) {
            return false;
        }
        data.cbSize = sizeof data;
        return SetupDiEnumDeviceInfo(set_, index, &data) != FALSE;
    }

    // The set's own record of `device`. SetupAPI takes the Reserved word as a pointer to its
    // element of the set, so a record from elsewhere (or a stale one) is never handed over:
    // the device is looked up in the set, Reserved word included.
    bool Find(const DeviceInfoData& device, SP_DEVINFO_DATA& data) {
        for (uint32_t index = 0; Enumerate(index, data); ++index) {
            if (data.DevInst == device.devInst &&
                static_cast<uint64_t>(data.Reserved) == device.reserved &&
                memcmp(&data.ClassGuid, device.classGuid, sizeof device.classGuid) == 0) {
                return true;
            }
        }
        return false;
    }

    HDEVINFO set_ = nullptr;
};

} // namespace

UsbDevices& SystemUsbDevices() {
    static Win32UsbDevices devices;
    return devices;
}

} // namespace tavro::platform
