// Conversion of Time Protocol values, month lengths, clock comparison and difference, and the report of an offset.
#include <gtest/gtest.h>

#include "time/calendar.h"
#include "time/clock_offset.h"
#include "time/clock_report.h"

namespace {

CivilTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0) {
    CivilTime t = {};
    t.wYear = static_cast<uint16_t>(year);
    t.wMonth = static_cast<uint16_t>(month);
    t.wDay = static_cast<uint16_t>(day);
    t.wHour = static_cast<uint16_t>(hour);
    t.wMinute = static_cast<uint16_t>(minute);
    t.wSecond = static_cast<uint16_t>(second);
    t.wMilliseconds = static_cast<uint16_t>(ms);
    return t;
}

// An independent reading of a file time as civil UTC (days-from-civil inverted), to check the conversion's numbers.
CivilTime CivilFromFileTime(uint64_t intervals) {
    const int64_t seconds = static_cast<int64_t>(intervals / 10000000ull) - 11644473600ll; // to Unix time
    const int64_t rest = (seconds % 86400 + 86400) % 86400;
    int64_t days = (seconds - rest) / 86400;
    days += 719468;
    const int64_t era = days / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2));
    return At(year, month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
              static_cast<int>(rest % 60));
}

// Seconds since 1970 for a civil time; a day past the month's end simply runs on into the next month.
int64_t SecondsFromCivil(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second) {
    year -= month <= 2;
    const int64_t era = year / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = era * 146097 + dayOfEra - 719468;
    return ((days * 24 + hour) * 60 + minute) * 60 + second;
}

void ExpectTime(const CivilTime &actual, const CivilTime &expected) {
    EXPECT_EQ(actual.wYear, expected.wYear);
    EXPECT_EQ(actual.wMonth, expected.wMonth);
    EXPECT_EQ(actual.wDay, expected.wDay);
    EXPECT_EQ(actual.wHour, expected.wHour);
    EXPECT_EQ(actual.wMinute, expected.wMinute);
    EXPECT_EQ(actual.wSecond, expected.wSecond);
}

void ExpectDifference(const TimeDifference &d, int years, int months, int days, int hours, int minutes, int seconds) {
    EXPECT_EQ(d.wYear, years);
    EXPECT_EQ(d.wMonth, months);
    EXPECT_EQ(d.wDay, days);
    EXPECT_EQ(d.wHour, hours);
    EXPECT_EQ(d.wMinute, minutes);
    EXPECT_EQ(d.wSecond, seconds);
}

} // namespace

TEST(TimeValueToFileTime, ConvertsTheCurrentEraExactly) {
    EXPECT_EQ(TimeValueToFileTime(3602966400u), 130384512000000000ull); // 2014-03-05 00:00:00
    ExpectTime(CivilFromFileTime(TimeValueToFileTime(3602966400u)), At(2014, 3, 5));
    ExpectTime(CivilFromFileTime(TimeValueToFileTime(3155673600u)), At(2000, 1, 1));
    ExpectTime(CivilFromFileTime(TimeValueToFileTime(0x80000000u)), At(1968, 1, 20, 3, 14, 8));
    ExpectTime(CivilFromFileTime(TimeValueToFileTime(0xFFFFFFFFu)), At(2036, 2, 7, 6, 28, 15));
}

TEST(TimeValueToFileTime, ReadsSmallCountsAsTheNextEra) {
    // After the count wraps in 2036 a server sends small numbers again; they must not read as 1900.
    ExpectTime(CivilFromFileTime(TimeValueToFileTime(0u)), At(2036, 2, 7, 6, 28, 16));
    EXPECT_EQ(TimeValueToFileTime(0u) - TimeValueToFileTime(0xFFFFFFFFu), 10000000ull);
    ExpectTime(CivilFromFileTime(TimeValueToFileTime(0x7FFFFFFFu)), At(2104, 2, 26, 9, 42, 23));
    // Zero is what a broken server sends, not 2036; and nothing before this build's day is a working clock.
    const uint32_t buildDay = static_cast<uint32_t>(kEarliestServerTime / 10000000ull - 9435484800ull);
    EXPECT_FALSE(IsUsableTimeValue(0u));
    EXPECT_FALSE(IsUsableTimeValue(buildDay - 1));
    EXPECT_TRUE(IsUsableTimeValue(buildDay));
    EXPECT_TRUE(IsUsableTimeValue(0xFFFFFFFFu));
}

TEST(DaysInMonth, KnowsLeapYears) {
    EXPECT_EQ(DaysInMonth(2014, 2), 28u);
    EXPECT_EQ(DaysInMonth(2012, 2), 29u);
    EXPECT_EQ(DaysInMonth(2000, 2), 29u); // divisible by 400: leap
    EXPECT_EQ(DaysInMonth(1900, 2), 28u); // divisible by 100 only: common
    EXPECT_EQ(DaysInMonth(2014, 4), 30u);
    EXPECT_EQ(DaysInMonth(2014, 12), 31u);
}

TEST(CompareClocks, OrdersByFieldAndPutsTheLaterTimeFirst) {
    CivilTime machine = At(2014, 7, 1, 0, 0, 5);
    CivilTime server = At(2014, 6, 30, 23, 59, 58);
    EXPECT_EQ(CompareClocks(machine, server), kClockAhead);
    ExpectTime(machine, At(2014, 7, 1, 0, 0, 5));

    machine = At(2014, 1, 1, 10, 59, 59);
    server = At(2014, 1, 1, 11, 0, 0);
    EXPECT_EQ(CompareClocks(machine, server), kClockBehind);
    ExpectTime(machine, At(2014, 1, 1, 11, 0, 0));
    ExpectTime(server, At(2014, 1, 1, 10, 59, 59));

    // An earlier year wins over any later field.
    machine = At(2013, 12, 31, 23, 59, 59);
    server = At(2014, 1, 1, 0, 0, 0);
    EXPECT_EQ(CompareClocks(machine, server), kClockBehind);
}

TEST(CompareClocks, IgnoresMillisecondsAndDayOfWeek) {
    CivilTime machine = At(2014, 3, 5, 8, 0, 0, 999);
    CivilTime server = At(2014, 3, 5, 8, 0, 0, 0);
    server.wDayOfWeek = 3;
    EXPECT_EQ(CompareClocks(machine, server), kClockAccurate);
    EXPECT_EQ(machine.wMilliseconds, 999);
}

TEST(ClockDifference, BorrowsSecondsMinutesAndHours) {
    TimeDifference d = {};
    CivilTime later = At(2014, 7, 1, 0, 0, 5);
    ClockDifference(later, At(2014, 6, 30, 23, 59, 58), d);
    ExpectDifference(d, 0, 0, 0, 0, 0, 7);

    later = At(2014, 1, 1, 11, 0, 0);
    ClockDifference(later, At(2014, 1, 1, 10, 59, 59), d);
    ExpectDifference(d, 0, 0, 0, 0, 0, 1);

    later = At(2015, 3, 2, 1, 2, 3);
    ClockDifference(later, At(2014, 1, 1, 0, 0, 0), d);
    ExpectDifference(d, 1, 2, 1, 1, 2, 3);
}

TEST(ClockDifference, BorrowsTheRealLengthOfThePreviousMonth) {
    TimeDifference d = {};
    CivilTime later = At(2013, 3, 1, 0, 0, 0);
    ClockDifference(later, At(2013, 2, 28, 0, 0, 0), d);
    ExpectDifference(d, 0, 0, 1, 0, 0, 0);

    later = At(2012, 3, 1, 10, 0, 0); // leap February
    ClockDifference(later, At(2012, 2, 28, 10, 0, 0), d);
    ExpectDifference(d, 0, 0, 2, 0, 0, 0);

    later = At(2014, 7, 1, 10, 0, 0);
    ClockDifference(later, At(2014, 6, 30, 10, 0, 0), d);
    ExpectDifference(d, 0, 0, 1, 0, 0, 0);

    later = At(2014, 1, 1, 0, 0, 0); // borrow across the year
    ClockDifference(later, At(2013, 12, 31, 0, 0, 0), d);
    ExpectDifference(d, 0, 0, 1, 0, 0, 0);
}

TEST(ClockDifference, NeverLeavesTheDaysNegative) {
    // The hour step takes a day first, then the day step must borrow twice.
    TimeDifference d = {};
    CivilTime later = At(2013, 3, 1, 0, 0, 0);
    ClockDifference(later, At(2013, 1, 31, 12, 0, 0), d);
    ExpectDifference(d, 0, 0, 28, 12, 0, 0);

    later = At(2014, 5, 1, 1, 0, 0);
    ClockDifference(later, At(2014, 3, 31, 2, 0, 0), d);
    ExpectDifference(d, 0, 0, 30, 23, 0, 0);

    // Across every pairing of a January and a March time: earlier plus the difference gives later again.
    for (int day = 1; day <= 31; ++day) {
        for (int hour : {0, 23}) {
            const CivilTime earlier = At(2016, 1, day, hour, 30, 30);
            for (int laterDay = 1; laterDay <= 31; ++laterDay) {
                const CivilTime original = At(2016, 3, laterDay, 23 - hour, 10, 10);
                CivilTime borrowed = original;
                ClockDifference(borrowed, earlier, d);
                ASSERT_GE(d.wDay, 0);
                const int64_t monthsLater = earlier.wMonth - 1 + d.wMonth;
                const int64_t reached =
                    SecondsFromCivil(earlier.wYear + d.wYear + monthsLater / 12, monthsLater % 12 + 1, earlier.wDay,
                                     earlier.wHour, earlier.wMinute, earlier.wSecond) +
                    ((d.wDay * 24 + d.wHour) * 60 + d.wMinute) * 60 + d.wSecond;
                EXPECT_EQ(reached, SecondsFromCivil(original.wYear, original.wMonth, original.wDay, original.wHour,
                                                    original.wMinute, original.wSecond))
                    << "earlier day " << day << " hour " << hour << ", later day " << laterDay;
            }
        }
    }
}

// Time Protocol answers (a round trip) and SNTP offsets (none), around 2026-03-01 00:00:00 UTC on the machine, and
// the report for the machine's time against the same time moved by the offset's reported seconds.
TEST(ClockOffsetReport, CentresWholeSecondsAndRoundsHalvesDown) {
    const uint64_t march1 = 134167968000000000ull;
    const uint64_t perMs = 10000;
    struct Row {
        const char *what;
        int64_t serverSecondMs, arrivedMs, roundTripMs; // Time Protocol when roundTripMs >= 0
        int64_t offsetMs;
        const char *report;
    } rows[] = {
        {"right, sent early in its second", 0, 50, 0, 450, "时间准确！"},
        {"right, sent late in its second", 0, 950, 0, -450, "时间准确！"},
        {"right, arriving in the next second", 0, 1020, 40, -500, "时间准确！"},
        {"7 s ahead, sent 0.9 s into its second", 7000, 900, 0, 6600, "本机时间慢了0年0月0日0时0分7秒"},
        {"7 s ahead, sent 0.1 s into its second", 7000, 100, 0, 7400, "本机时间慢了0年0月0日0时0分7秒"},
        {"5 s behind, across the month's end", -5000, 500, 0, -5000, "本机时间快了0年0月0日0时0分5秒"},
        {"3 s ahead, a long trip", 3000, 1000, 1600, 3300, "本机时间慢了0年0月0日0时0分3秒"},
        {"1 s ahead, hidden by a trip of 2 s", 1000, 1500, 2000, 1000, "时间准确！"},
        {"SNTP, 0.45 s behind", 0, 0, -1, -450, "时间准确！"},
        {"SNTP, half a second ahead", 0, 0, -1, 500, "时间准确！"},
        {"SNTP, just over half a second ahead", 0, 0, -1, 501, "本机时间慢了0年0月0日0时0分1秒"},
        {"SNTP, half a second behind", 0, 0, -1, -500, "本机时间快了0年0月0日0时0分1秒"},
        {"SNTP, a day and a second behind", 0, 200, -1, -86401000, "本机时间快了0年0月1日0时0分1秒"},
    };
    for (const Row &row : rows) {
        const uint64_t arrived = march1 + static_cast<uint64_t>(row.arrivedMs) * perMs;
        const ClockOffset offset = row.roundTripMs >= 0
                                       ? CentreWholeSecond(march1 + static_cast<uint64_t>(row.serverSecondMs) * perMs,
                                                           arrived, static_cast<uint64_t>(row.roundTripMs) * perMs)
                                       : ClockOffset{row.offsetMs, 0};
        EXPECT_EQ(offset.milliseconds, row.offsetMs) << row.what;
        const int64_t seconds = ReportedSeconds(offset);
        char text[kReportSize];
        ReportClocks(CivilFromFileTime(arrived), CivilFromFileTime(arrived + static_cast<uint64_t>(seconds * 10000000)),
                     text, sizeof text);
        EXPECT_STREQ(text, row.report) << row.what;
    }
}
