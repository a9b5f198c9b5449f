// Calendar conversion for Windows-style time values, written out so that every edition
// decodes receiver time the same way.
#pragma once

#include "common/SystemTime.h"

#include <stdint.h>

namespace tavro {

// FILETIME: 100-nanosecond intervals since 1601-01-01 00:00:00 UTC.
// 1601-01-01 to 1970-01-01, the Unix epoch.
inline constexpr uint64_t fileTimeUnixEpochSeconds = 11644473600;

// As FileTimeToSystemTime does: all eight fields, wDayOfWeek included (0 = Sunday). Fails
// for values of 2^63 and above, which the system refuses too.
bool FileTimeToSystemTime(uint64_t fileTime, SystemTime& out);

// The day after year-month-day in the Gregorian calendar (a day past the month's end, a month
// past 12, rolls over as well).
void NextDay(uint16_t& year, uint16_t& month, uint16_t& day);

} // namespace tavro
