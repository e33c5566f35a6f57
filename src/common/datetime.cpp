// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/datetime.h"

#include <array>
#include <cstdio>
#include <time.h>

namespace {

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[static_cast<size_t>(month - 1)];
}

} // namespace

DATETIME DateTime_FromTm(const tm& t, uint16_t milliseconds) {
    // tm_year + 1900 is computed in long long: tm_year may be near INT_MAX.
    const long long year = static_cast<long long>(t.tm_year) + 1900;
    if (year < 0 || year >= DATETIME_YEAR_MISSING) return DateTime_Missing();
    DATETIME dt{};
    dt.wYear = static_cast<uint16_t>(t.tm_year + 1900);
    dt.wMonth = static_cast<uint16_t>(t.tm_mon + 1);
    dt.wDayOfWeek = static_cast<uint16_t>(t.tm_wday);
    dt.wDay = static_cast<uint16_t>(t.tm_mday);
    dt.wHour = static_cast<uint16_t>(t.tm_hour);
    dt.wMinute = static_cast<uint16_t>(t.tm_min);
    dt.wSecond = static_cast<uint16_t>(t.tm_sec);
    dt.wMilliseconds = milliseconds;
    return dt;
}

namespace {

DATETIME localRecord(time_t t, uint16_t milliseconds) {
    tm local{};
    if (!localtime_r(&t, &local)) return DateTime_Missing();
    return DateTime_FromTm(local, milliseconds);
}

} // namespace

DATETIME DateTime_Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return localRecord(now.tv_sec, static_cast<uint16_t>(now.tv_nsec / 1000000));
}

DATETIME DateTime_Missing() {
    DATETIME dt{};
    dt.wYear = DATETIME_YEAR_MISSING;
    return dt;
}

bool DateTime_IsMissing(const DATETIME& dt) {
    return dt.wYear == DATETIME_YEAR_MISSING;
}

DATETIME DateTime_FromTime(time_t t) {
    return localRecord(t, 0);
}

time_t DateTime_ToTime(const DATETIME& dt) {
    if (!DateTime_IsValid(dt)) return -1;
    tm t{};
    t.tm_year = dt.wYear - 1900;
    t.tm_mon = dt.wMonth - 1;
    t.tm_mday = dt.wDay;
    t.tm_hour = dt.wHour;
    t.tm_min = dt.wMinute;
    t.tm_sec = dt.wSecond;
    t.tm_isdst = -1;
    return mktime(&t);
}

int DateTime_Compare(const DATETIME& a, const DATETIME& b) {
    const bool ma = DateTime_IsMissing(a), mb = DateTime_IsMissing(b);
    if (ma || mb) return ma == mb ? 0 : (ma ? -1 : 1);
    const std::array<uint16_t, 7> x = {a.wYear,   a.wMonth,  a.wDay,         a.wHour,
                                       a.wMinute, a.wSecond, a.wMilliseconds};
    const std::array<uint16_t, 7> y = {b.wYear,   b.wMonth,  b.wDay,         b.wHour,
                                       b.wMinute, b.wSecond, b.wMilliseconds};
    for (size_t i = 0; i < x.size(); ++i)
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}

bool DateTime_IsValid(const DATETIME& dt) {
    if (dt.wYear < 1 || dt.wYear > 9999) return false;
    if (dt.wMonth < 1 || dt.wMonth > 12) return false;
    if (dt.wDay < 1 || dt.wDay > daysInMonth(dt.wYear, dt.wMonth)) return false;
    return dt.wHour < 24 && dt.wMinute < 60 && dt.wSecond <= 60 && dt.wMilliseconds < 1000;
}

std::string DateTime_Text(const DATETIME& dt) {
    if (DateTime_IsMissing(dt)) return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", dt.wYear, dt.wMonth, dt.wDay,
                  dt.wHour, dt.wMinute, dt.wSecond);
    return buf;
}
