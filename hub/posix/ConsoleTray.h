// The tray of a hub that runs in a terminal: every change of the tray's tip (the fix state,
// "Not connected") becomes one line on standard output.
#pragma once

#include "platform/Tray.h"

#include <stdio.h>

namespace tavro::posixhub {

class ConsoleTray final : public platform::Tray {
public:
    explicit ConsoleTray(FILE* output) : output_(output) {}

    bool ShowTrayIcon(platform::TrayOperation operation, uint32_t icon, const char* tip) override;

private:
    FILE* output_;
    char lastTip_[platform::trayTipMax + 1] = {};
};

} // namespace tavro::posixhub
