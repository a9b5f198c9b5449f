// Sleep and GetTickCount of kernel32.
#include "platform/Timing.h"

#include <windows.h>

namespace tavro::platform {
namespace {

class Win32Timing final : public Timing {
public:
    uint32_t GetTickCount() override { return ::GetTickCount(); }
    void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

} // namespace

Timing& SystemTiming() {
    static Win32Timing timing;
    return timing;
}

} // namespace tavro::platform
