// The USB devices the main window offers for restarting after standby: the present devices of
// the "USB" enumerator, read with SetupAPI. The set is made afresh when a walk begins (index
// 0), so the list shows the devices present when the window opens, and let go at its end.
#pragma once

#include "hub/ui/DeviceList.h"

#include <windows.h>

namespace tavro::win32 {

class Win32DeviceList final : public DeviceListSource {
public:
    Win32DeviceList() = default;
    ~Win32DeviceList() override;
    Win32DeviceList(const Win32DeviceList&) = delete;
    Win32DeviceList& operator=(const Win32DeviceList&) = delete;

    bool ReadDevice(uint32_t index, DeviceListEntry& entry) override;

private:
    void Release();

    void* set_ = nullptr; // HDEVINFO, null while there is none
};

} // namespace tavro::win32
