// SPDX-License-Identifier: GPL-3.0-or-later
// DATETIME: the date-time record of message records, account timers and
// saved-file names. The fields are local time; a year of DATETIME_YEAR_MISSING
// means the date is missing (a message without a usable Date header).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

struct DATETIME {
    uint16_t wYear;
    uint16_t wMonth;     // 1..12
    uint16_t wDayOfWeek; // 0 = Sunday .. 6 = Saturday
    uint16_t wDay;       // 1..31
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

inline constexpr uint16_t DATETIME_YEAR_MISSING = 65535;

// The current local time, milliseconds included.
DATETIME DateTime_Now();

// A missing date: year DATETIME_YEAR_MISSING, every other field 0.
DATETIME DateTime_Missing();

// True when the year says the date is missing (the other fields do not matter).
bool DateTime_IsMissing(const DATETIME& dt);

// "2024-01-31 13:05:00": how dates leave the program as text (the command
// line, the bus); "" for a missing date.
std::string DateTime_Text(const DATETIME& dt);

// The local time of t (milliseconds 0, day of week filled in). A time whose
// local year falls outside 0..65534 cannot be held and gives a missing date.
DATETIME DateTime_FromTime(time_t t);

// The record of the broken-down time t, or a missing date when its year falls
// outside 0..65534. No time zone is applied.
DATETIME DateTime_FromTm(const tm& t, uint16_t milliseconds = 0);

// The time_t of a local record (day of week and milliseconds ignored), or -1
// when the record is missing or not DateTime_IsValid. A local time that falls
// in a daylight-saving gap is moved forward by the gap; one that occurs twice
// gives either instant. Second 60 counts as the first second of the next minute.
time_t DateTime_ToTime(const DATETIME& dt);

// Orders by year, month, day, hour, minute, second and milliseconds; the day
// of week is ignored. Missing dates are equal to each other and older than
// every present date, so they gather at the old end of a sorted list.
// Returns <0, 0 or >0.
int DateTime_Compare(const DATETIME& a, const DATETIME& b);

// True for a present date with year 1..9999, month 1..12, a day that exists
// in that month (leap years included), hour < 24, minute < 60, second <= 60
// (a Date header may carry a leap second) and milliseconds < 1000. The day of
// week is not checked: it is derived from the rest and stored records may
// lack it.
bool DateTime_IsValid(const DATETIME& dt);
