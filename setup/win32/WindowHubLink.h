// The setup tool's way to the Windows hub: its message window "TavroMsgWnd" and WM_COPYDATA.
#pragma once

#include "setup/HubLink.h"

#include <windows.h>

namespace tavro::win32 {

class WindowHubLink final : public setup::HubLink {
public:
    uint32_t FindHub() override;
    uint32_t Send(HubCommand code, const void* payload, uint32_t length) override;

private:
    HWND window_ = nullptr;
};

} // namespace tavro::win32
