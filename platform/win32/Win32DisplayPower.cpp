// Display power through a system-wide WM_SYSCOMMAND broadcast.
#include "platform/DisplayPower.h"

#include <windows.h>

namespace tavro::platform {
namespace {

class Win32DisplayPower final : public DisplayPower {
public:
    bool SetDisplayPower(DisplayState state) override {
        // No recipient mask: every component. BSF_FORCEIFHUNG carries on past hung windows.
        return BroadcastSystemMessageA(BSF_FORCEIFHUNG, nullptr, WM_SYSCOMMAND, SC_MONITORPOWER,
                                       static_cast<LPARAM>(state)) > 0;
    }
};

} // namespace

DisplayPower& SystemDisplayPower() {
    static Win32DisplayPower display;
    return display;
}

} // namespace tavro::platform
