// FILETIME to calendar time against the C library's own calendar.
#include "hub/decode/CalendarTime.h"

#include <gtest/gtest.h>

#include <random>
#include <time.h>
#include <vector>

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

TEST(CalendarTime, NextDayRollsOverMonthsYearsAndLeapDays) {
    struct Case {
        uint16_t from[3];
        uint16_t to[3];
    } cases[] = {
        {{2024, 2, 28}, {2024, 2, 29}}, {{2023, 2, 28}, {2023, 3, 1}},
        {{2100, 2, 28}, {2100, 3, 1}},  {{2000, 2, 29}, {2000, 3, 1}},
        {{2029, 12, 31}, {2030, 1, 1}}, {{2025, 4, 30}, {2025, 5, 1}},
        {{2025, 1, 15}, {2025, 1, 16}},
    };
    for (const Case& c : cases) {
        uint16_t year = c.from[0], month = c.from[1], day = c.from[2];
        NextDay(year, month, day);
        EXPECT_EQ((std::vector<int>{year, month, day}),
                  (std::vector<int>{c.to[0], c.to[1], c.to[2]}))
            << c.from[0] << "-" << c.from[1] << "-" << c.from[2];
    }
}

} // namespace
} // namespace tavro
