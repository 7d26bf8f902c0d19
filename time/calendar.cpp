// Civil-time arithmetic for the clock check.
#include "time/calendar.h"

namespace {

// Counts below this were sent after the 32-bit count wrapped on 2036-02-07 06:28:16 UTC.
const uint32_t kEraSplit = 0x80000000u;
const uint64_t kSecondsPerEra = 0x100000000ull;

const unsigned char kMonthDays[2][12] = {
    {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};

} // namespace

uint64_t TimeValueToFileTime(uint32_t secondsSince1900) {
    uint64_t seconds = secondsSince1900;
    if (secondsSince1900 < kEraSplit)
        seconds += kSecondsPerEra;
    return (seconds + kSecondsFrom1601To1900) * kIntervalsPerSecond;
}

bool IsLeapYear(unsigned year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(unsigned year, unsigned month) {
    return kMonthDays[IsLeapYear(year) ? 1 : 0][month - 1];
}

int CompareClocks(CivilTime &machine, CivilTime &server) {
    const uint16_t CivilTime::*const order[] = {&CivilTime::wYear, &CivilTime::wMonth,  &CivilTime::wDay,
                                                &CivilTime::wHour, &CivilTime::wMinute, &CivilTime::wSecond};
    for (const auto field : order) {
        if (machine.*field > server.*field)
            return kClockAhead;
        if (machine.*field < server.*field) {
            const CivilTime earlier = machine;
            machine = server;
            server = earlier;
            return kClockBehind;
        }
    }
    return kClockAccurate;
}

namespace {

// The month before `later`'s current month, in the year it belongs to.
unsigned DaysInPreviousMonth(const CivilTime &later) {
    if (later.wMonth <= 1)
        return DaysInMonth(later.wYear - 1u, 12);
    return DaysInMonth(later.wYear, later.wMonth - 1u);
}

} // namespace

void ClockDifference(CivilTime &later, const CivilTime &earlier, TimeDifference &diff) {
    diff.wSecond = static_cast<int16_t>(later.wSecond - earlier.wSecond);
    if (diff.wSecond < 0) {
        diff.wSecond += 60;
        later.wMinute -= 1;
    }
    diff.wMinute = static_cast<int16_t>(later.wMinute - earlier.wMinute);
    if (diff.wMinute < 0) {
        diff.wMinute += 60;
        later.wHour -= 1;
    }
    diff.wHour = static_cast<int16_t>(later.wHour - earlier.wHour);
    if (diff.wHour < 0) {
        diff.wHour += 24;
        later.wDay -= 1;
    }
    // A borrowed month counts its real length; borrow again while the days are still short.
    diff.wDay = static_cast<int16_t>(later.wDay - earlier.wDay);
    while (diff.wDay < 0) {
        diff.wDay = static_cast<int16_t>(diff.wDay + DaysInPreviousMonth(later));
        later.wMonth -= 1;
        if (later.wMonth == 0) {
            later.wMonth = 12;
            later.wYear -= 1;
        }
    }
    diff.wMonth = static_cast<int16_t>(later.wMonth - earlier.wMonth);
    if (diff.wMonth < 0) {
        diff.wMonth += 12;
        later.wYear -= 1;
    }
    diff.wYear = static_cast<int16_t>(later.wYear - earlier.wYear);
}
