// FILETIME to calendar time against the C library's own calendar.
#include "hub/decode/CalendarTime.h"

#include <gtest/gtest.h>

#include <random>
#include <time.h>

namespace tavro {
namespace {

TEST(CalendarTime, AgreesWithGmtimeFrom1601OnIncludingWeekdays) {
    std::mt19937_64 random(1601);
    const int64_t first = -static_cast<int64_t>(fileTimeUnixEpochSeconds);
    const int64_t last = 253402300799; // 9999-12-31 23:59:59
    std::uniform_int_distribution<int64_t> seconds(first, last);
    for (int i = 0; i < 200000; ++i) {
        const int64_t unixSeconds = i == 0 ? first : i == 1 ? last : seconds(random);
        const uint64_t milliseconds = static_cast<uint64_t>(i % 1000);
        const uint64_t fileTime =
            (static_cast<uint64_t>(unixSeconds + static_cast<int64_t>(fileTimeUnixEpochSeconds)) *
                 1000 +
             milliseconds) *
                10000 +
            static_cast<uint64_t>(i % 10000);
        const time_t t = static_cast<time_t>(unixSeconds);
        tm expected{};
        ASSERT_NE(gmtime_r(&t, &expected), nullptr);
        SystemTime got{};
        ASSERT_TRUE(FileTimeToSystemTime(fileTime, got));
        ASSERT_EQ(got.wYear, expected.tm_year + 1900) << unixSeconds;
        ASSERT_EQ(got.wMonth, expected.tm_mon + 1) << unixSeconds;
        ASSERT_EQ(got.wDay, expected.tm_mday) << unixSeconds;
        ASSERT_EQ(got.wDayOfWeek, expected.tm_wday) << unixSeconds;
        ASSERT_EQ(got.wHour, expected.tm_hour) << unixSeconds;
        ASSERT_EQ(got.wMinute, expected.tm_min) << unixSeconds;
        ASSERT_EQ(got.wSecond, expected.tm_sec) << unixSeconds;
        ASSERT_EQ(got.wMilliseconds, milliseconds) << unixSeconds;
    }
}

TEST(CalendarTime, LeapDaysAndTheSystemsLimit) {
    SystemTime t{};
    // 2000-02-29 12:00: 2000 is a leap year although divisible by 100.
    ASSERT_TRUE(FileTimeToSystemTime((951825600 + fileTimeUnixEpochSeconds) * 10000000, t));
    EXPECT_EQ(t.wMonth, 2);
    EXPECT_EQ(t.wDay, 29);
    EXPECT_EQ(t.wDayOfWeek, 2);
    ASSERT_TRUE(FileTimeToSystemTime((uint64_t{1} << 63) - 1, t));
    EXPECT_EQ(t.wYear, 30828);
    EXPECT_FALSE(FileTimeToSystemTime(uint64_t{1} << 63, t));
}

} // namespace
} // namespace tavro
