// Calendar time in the 16-byte layout Windows uses for SYSTEMTIME.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro {

struct SystemTime {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek; // 0 = Sunday
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

static_assert(sizeof(SystemTime) == 16);
static_assert(offsetof(SystemTime, wYear) == 0);
static_assert(offsetof(SystemTime, wMonth) == 2);
static_assert(offsetof(SystemTime, wDayOfWeek) == 4);
static_assert(offsetof(SystemTime, wDay) == 6);
static_assert(offsetof(SystemTime, wHour) == 8);
static_assert(offsetof(SystemTime, wMinute) == 10);
static_assert(offsetof(SystemTime, wSecond) == 12);
static_assert(offsetof(SystemTime, wMilliseconds) == 14);

} // namespace tavro
