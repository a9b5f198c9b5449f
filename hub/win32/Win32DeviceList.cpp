#include "hub/win32/Win32DeviceList.h"

#include <setupapi.h>
#include <string.h>

namespace tavro::win32 {
namespace {

// Property texts are read into 255 bytes, so the entry's last byte stays its terminator.
constexpr DWORD propertyBufferSize = DeviceListEntry::textSize - 1;

bool ReadProperty(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD property, char* text) {
    return SetupDiGetDeviceRegistryPropertyA(set, &data, property, nullptr,
                                             reinterpret_cast<BYTE*>(text), propertyBufferSize,
                                             nullptr) != FALSE;
}

} // namespace

Win32DeviceList::~Win32DeviceList() {
    Release();
}

void Win32DeviceList::Release() {
    if (set_ != nullptr) {
        SetupDiDestroyDeviceInfoList(static_cast<HDEVINFO>(set_));
        set_ = nullptr;
    }
}

bool Win32DeviceList::ReadDevice(uint32_t index, DeviceListEntry& entry) {
    if (index == 0) {
        Release();
        HDEVINFO set =
            SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
        set_ = set != INVALID_HANDLE_VALUE ? set : nullptr;
    }
    if (set_ == nullptr) {
        return false;
    }
    HDEVINFO set = static_cast<HDEVINFO>(set_);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInfo(set, index, &data)) {
        Release(); // past the last device
        return false;
    }
    entry.described = ReadProperty(set, data, SPDRP_DEVICEDESC, entry.description);
    if (entry.described && !ReadProperty(set, data, SPDRP_SERVICE, entry.service)) {
        entry.service[0] = '\0';
    }
    static_assert(sizeof entry.device.classGuid == sizeof data.ClassGuid);
    memcpy(entry.device.classGuid, &data.ClassGuid, sizeof entry.device.classGuid);
    entry.device.devInst = data.DevInst;
    entry.device.reserved = static_cast<uint64_t>(data.Reserved);
    return true;
}

} // namespace tavro::win32
