// Civil-time arithmetic for the clock check: the Time Protocol value as a file time, and field-by-field comparison
// and difference. Plain C++, no platform calls.
#pragma once

#include <stdint.h>

// Same eight 16-bit fields, in the same order, as the platform's SYSTEMTIME.
struct CivilTime {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

// A difference in years, months, days, hours, minutes and seconds, held in CivilTime's slots as signed numbers;
// wDayOfWeek and wMilliseconds are not used.
struct TimeDifference {
    int16_t wYear;
    int16_t wMonth;
    int16_t wDayOfWeek;
    int16_t wDay;
    int16_t wHour;
    int16_t wMinute;
    int16_t wSecond;
    int16_t wMilliseconds;
};

const uint64_t kSecondsFrom1601To1900 = 9435484800ull;
// File times count 100-nanosecond intervals.
const uint64_t kIntervalsPerSecond = 10000000ull;

enum ClockComparison { kClockAccurate = 0, kClockAhead = 1, kClockBehind = 2 };

// Seconds since 1900 in host byte order, read in the era that keeps the program working until 2104,
// as 100-nanosecond intervals since 1601-01-01 UTC.
uint64_t TimeValueToFileTime(uint32_t secondsSince1900);

bool IsLeapYear(unsigned year);
unsigned DaysInMonth(unsigned year, unsigned month);

// Returns kClockAhead, kClockBehind or kClockAccurate; on kClockBehind the two records are exchanged, so that
// afterwards the first always holds the later time.
int CompareClocks(CivilTime &machine, CivilTime &server);

// later minus earlier, borrowing from `later` in place.
void ClockDifference(CivilTime &later, const CivilTime &earlier, TimeDifference &diff);
