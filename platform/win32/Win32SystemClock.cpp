// The system clock through SetSystemTime; needs the system-time privilege, which the hub does
// not try to enable.
#include "platform/SystemClock.h"

#include "platform/ErrorCodes.h"

#include <windows.h>

namespace tavro::platform {
namespace {

class Win32SystemClock final : public SystemClock {
public:
    uint32_t SetSystemTime(const SystemTime& utc) override {
        SYSTEMTIME time;
        time.wYear = utc.wYear;
        time.wMonth = utc.wMonth;
        time.wDayOfWeek = utc.wDayOfWeek;
        time.wDay = utc.wDay;
        time.wHour = utc.wHour;
        time.wMinute = utc.wMinute;
        time.wSecond = utc.wSecond;
        time.wMilliseconds = utc.wMilliseconds;
        if (::SetSystemTime(&time)) {
            return error::success;
        }
        return static_cast<uint32_t>(GetLastError());
    }
};

} // namespace

SystemClock& RealSystemClock() {
    static Win32SystemClock clock;
    return clock;
}

} // namespace tavro::platform
