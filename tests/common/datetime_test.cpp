// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "common/datetime.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <time.h>
#include <vector>

namespace {

// Pins local time to Central European rules (a POSIX TZ string, so no time
// zone database is needed).
class DateTimeTest : public testing::Test {
    iwtest::ScopedTz tz_{"CET-1CEST,M3.5.0,M10.5.0/3"};
};

DATETIME make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0, int dow = 0) {
    const auto u = [](int v) { return static_cast<uint16_t>(v); };
    return DATETIME{u(y), u(mo), u(dow), u(d), u(h), u(mi), u(s), u(ms)};
}

std::string str(const DATETIME& d) {
    return testing::PrintToString(std::vector<int>{d.wYear, d.wMonth, d.wDayOfWeek, d.wDay, d.wHour,
                                                   d.wMinute, d.wSecond, d.wMilliseconds});
}

TEST_F(DateTimeTest, LocalRecordsRoundTrip) {
    struct Case {
        time_t t;
        DATETIME local;
    };
    const Case cases[] = {
        {0, make(1970, 1, 1, 1, 0, 0, 0, 4)},            // winter, Thursday
        {-86400, make(1969, 12, 31, 1, 0, 0, 0, 3)},     // before the epoch
        {951782400, make(2000, 2, 29, 1, 0, 0, 0, 2)},   // leap day
        {1719835200, make(2024, 7, 1, 14, 0, 0, 0, 1)},  // summer time
        {1711848600, make(2024, 3, 31, 3, 30, 0, 0, 0)}, // just after the change
    };
    for (const auto& c : cases) {
        EXPECT_EQ(str(DateTime_FromTime(c.t)), str(c.local)) << c.t;
        EXPECT_EQ(DateTime_ToTime(c.local), c.t);
    }
    // 02:30 does not exist on the spring change: it becomes 03:30 summer time.
    EXPECT_EQ(DateTime_ToTime(make(2024, 3, 31, 2, 30)), 1711848600);
    // 02:30 happens twice in the autumn; either instant will do.
    const time_t twice = DateTime_ToTime(make(2024, 10, 27, 2, 30));
    EXPECT_TRUE(twice == 1729989000 || twice == 1729992600) << twice;
    EXPECT_EQ(DateTime_ToTime(make(2016, 12, 31, 23, 59, 60)), DateTime_ToTime(make(2017, 1, 1)));
    // Day of week and milliseconds do not move the instant.
    EXPECT_EQ(DateTime_ToTime(make(2024, 7, 1, 14, 0, 0, 999, 5)), 1719835200);
}

TEST_F(DateTimeTest, MissingAndUnrepresentableDates) {
    const DATETIME missing = DateTime_Missing();
    EXPECT_EQ(str(missing), str(make(65535, 0, 0)));
    EXPECT_TRUE(DateTime_IsMissing(missing));
    EXPECT_EQ(DateTime_ToTime(missing), -1);
    EXPECT_EQ(DateTime_ToTime(make(2024, 2, 30)), -1);

    // A time whose year cannot be held comes back missing, never as a bogus
    // date; year 65535 itself would read as "missing" anyway.
    tm utc{};
    utc.tm_mday = 1;
    utc.tm_mon = 5;
    utc.tm_year = 65534 - 1900;
    EXPECT_EQ(DateTime_FromTime(timegm(&utc)).wYear, 65534);
    utc.tm_year = 65535 - 1900;
    EXPECT_TRUE(DateTime_IsMissing(DateTime_FromTime(timegm(&utc))));
    EXPECT_TRUE(DateTime_IsMissing(DateTime_FromTime(std::numeric_limits<time_t>::max())));
    EXPECT_TRUE(DateTime_IsMissing(DateTime_FromTime(std::numeric_limits<time_t>::min())));
}

} // namespace
