// The system clock through clock_settime(CLOCK_REALTIME); needs CAP_SYS_TIME (usually root).
#include "platform/SystemClock.h"

#include "platform/ErrorCodes.h"

#include <errno.h>
#include <time.h>

namespace tavro::platform {
namespace {

bool IsLeapYear(unsigned year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(unsigned year, unsigned month) {
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// The checks SetSystemTime makes: a real calendar date from 1601 on, a real time of day.
bool IsValid(const SystemTime& t) {
    return t.wYear >= 1601 && t.wYear <= 30827 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 &&
           t.wDay <= DaysInMonth(t.wYear, t.wMonth) && t.wHour < 24 && t.wMinute < 60 &&
           t.wSecond < 60 && t.wMilliseconds < 1000;
}

// Days from 1970-01-01 to the given proleptic Gregorian date.
int64_t DaysSinceUnixEpoch(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

class PosixSystemClock final : public SystemClock {
public:
    uint32_t SetSystemTime(const SystemTime& utc) override {
        if (!IsValid(utc)) {
            return error::invalidParameter;
        }
        const int64_t seconds = DaysSinceUnixEpoch(utc.wYear, utc.wMonth, utc.wDay) * 86400 +
                                utc.wHour * 3600 + utc.wMinute * 60 + utc.wSecond;
        timespec now{};
        now.tv_sec = static_cast<time_t>(seconds);
        now.tv_nsec = static_cast<long>(utc.wMilliseconds) * 1000000;
        if (static_cast<int64_t>(now.tv_sec) != seconds) {
            return error::invalidParameter; // beyond this system's time_t
        }
        if (clock_settime(CLOCK_REALTIME, &now) == 0) {
            return error::success;
        }
        return errno == EPERM ? error::privilegeNotHeld : error::invalidParameter;
    }
};

} // namespace

SystemClock& RealSystemClock() {
    static PosixSystemClock clock;
    return clock;
}

} // namespace tavro::platform
