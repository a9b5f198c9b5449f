#include "hub/decode/CalendarTime.h"

namespace tavro {
namespace {

constexpr uint64_t secondsPerDay = 86400;
constexpr uint64_t daysFrom1601To1970 = fileTimeUnixEpochSeconds / secondsPerDay;

} // namespace

bool FileTimeToSystemTime(uint64_t fileTime, SystemTime& out) {
    if (fileTime >= uint64_t{1} << 63) {
        return false;
    }
    const uint64_t totalMilliseconds = fileTime / 10000;
    const uint64_t totalSeconds = totalMilliseconds / 1000;
    const uint64_t days = totalSeconds / secondsPerDay;
    const uint64_t secondOfDay = totalSeconds % secondsPerDay;

    // Days to a proleptic Gregorian date, counted in 400-year eras from 0000-03-01 so that
    // the leap day ends each counted year. 1601-01-01 lies well after that start, so every
    // quantity here is non-negative.
    constexpr uint64_t march0000To1970 = 719468;
    const uint64_t sinceMarch0000 = days + (march0000To1970 - daysFrom1601To1970);
    const uint64_t era = sinceMarch0000 / 146097;
    const uint64_t dayOfEra = sinceMarch0000 - era * 146097;
    const uint64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const uint64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const uint64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    const uint64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    const uint64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    out.wYear = static_cast<uint16_t>(year);
    out.wMonth = static_cast<uint16_t>(month);
    out.wDayOfWeek = static_cast<uint16_t>((days + 1) % 7); // 1601-01-01 was a Monday
    out.wDay = static_cast<uint16_t>(day);
    out.wHour = static_cast<uint16_t>(secondOfDay / 3600);
    out.wMinute = static_cast<uint16_t>(secondOfDay / 60 % 60);
    out.wSecond = static_cast<uint16_t>(secondOfDay % 60);
    out.wMilliseconds = static_cast<uint16_t>(totalMilliseconds % 1000);
    return true;
}

void NextDay(uint16_t& year, uint16_t& month, uint16_t& day) {
    static constexpr uint8_t monthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int last = month >= 1 && month <= 12 ? monthDays[month - 1] + (month == 2 && leap) : 31;
    if (++day <= last) {
        return;
    }
    day = 1;
    if (++month > 12) {
        month = 1;
        ++year;
    }
}

} // namespace tavro
