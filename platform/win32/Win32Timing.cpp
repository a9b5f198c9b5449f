// Sleep and GetTickCount of kernel32.
#include "platform/Timing.h"

#include <windows.h>

namespace tavro::platform {
namespace {

class Win32Timing final : public Timing {
public:
    uint32_t GetTickCount() override { return ::GetTickCount(); }
    // GetTickCount moves in steps of 10-16 ms; the performance counter is exact.
    uint64_t Microseconds() override {
        LARGE_INTEGER count{};
        LARGE_INTEGER frequency{};
        if (!QueryPerformanceCounter(&count) || !QueryPerformanceFrequency(&frequency) ||
            frequency.QuadPart <= 0) {
            return uint64_t{::GetTickCount()} * 1000u;
        }
        const auto ticks = static_cast<uint64_t>(count.QuadPart);
        const auto perSecond = static_cast<uint64_t>(frequency.QuadPart);
        return ticks / perSecond * 1000000u + ticks % perSecond * 1000000u / perSecond;
    }

    void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

} // namespace

Timing& SystemTiming() {
    static Win32Timing timing;
    return timing;
}

} // namespace tavro::platform
