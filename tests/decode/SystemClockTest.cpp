// The POSIX clock adapter refuses what SetSystemTime refuses, before touching the clock.
#include "platform/SystemClock.h"
#include "platform/ErrorCodes.h"

#include <gtest/gtest.h>

namespace tavro::platform {
namespace {

TEST(PosixSystemClock, RefusesTimesThatAreNotCalendarTimes) {
    struct Case {
        const char* why;
        SystemTime time;
    } cases[] = {
        {"month 13", {2024, 13, 0, 1, 0, 0, 0, 0}},
        {"month 0", {2024, 0, 0, 1, 0, 0, 0, 0}},
        {"29 February 2023", {2023, 2, 0, 29, 0, 0, 0, 0}},
        {"29 February 1900", {1900, 2, 0, 29, 0, 0, 0, 0}},
        {"31 April", {2024, 4, 0, 31, 0, 0, 0, 0}},
        {"day 0", {2024, 1, 0, 0, 0, 0, 0, 0}},
        {"hour 24", {2024, 1, 0, 1, 24, 0, 0, 0}},
        {"minute 60", {2024, 1, 0, 1, 0, 60, 0, 0}},
        {"second 60", {2024, 1, 0, 1, 0, 0, 60, 0}},
        {"1000 ms (a whole-minute time plus 10 ms can reach it)", {2024, 1, 0, 1, 0, 0, 0, 1000}},
        {"year 1600", {1600, 12, 0, 31, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RealSystemClock().SetSystemTime(c.time), error::invalidParameter) << c.why;
    }
    // Valid times are not tried: run as root, that would really set this machine's clock.
}

} // namespace
} // namespace tavro::platform
