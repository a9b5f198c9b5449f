#include "hub/posix/ConsoleTray.h"

#include <cstdio>
#include <cstring>

namespace tavro::posixhub {

bool ConsoleTray::ShowTrayIcon(platform::TrayOperation operation, uint32_t, const char* tip) {
    // The icon's first tip is the program's name: nothing worth a line.
    if (operation != platform::TrayOperation::Modify || tip == nullptr ||
        std::strncmp(tip, lastTip_, platform::trayTipMax) == 0) {
        return true;
    }
    std::strncpy(lastTip_, tip, platform::trayTipMax);
    lastTip_[platform::trayTipMax] = '\0';
    std::fprintf(output_, "tavro: %s\n", lastTip_);
    std::fflush(output_);
    return true;
}

} // namespace tavro::posixhub
