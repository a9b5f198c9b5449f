#include "platform/Sleeper.h"

#include <windows.h>

namespace tavro::platform {
namespace {

class Win32Sleeper final : public Sleeper {
public:
    void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

} // namespace

Sleeper& SystemSleeper() {
    static Win32Sleeper sleeper;
    return sleeper;
}

} // namespace tavro::platform
