// The report texts and the clock face, byte for byte in code page 936.
#include <gtest/gtest.h>

#include <string.h>

#include "time/clock_report.h"

namespace {

TimeDifference Diff(int years, int months, int days, int hours, int minutes, int seconds) {
    TimeDifference d = {};
    d.wYear = static_cast<int16_t>(years);
    d.wMonth = static_cast<int16_t>(months);
    d.wDay = static_cast<int16_t>(days);
    d.wHour = static_cast<int16_t>(hours);
    d.wMinute = static_cast<int16_t>(minutes);
    d.wSecond = static_cast<int16_t>(seconds);
    return d;
}

std::string Report(int comparison, const TimeDifference &d) {
    char text[256];
    memset(text, 'x', sizeof text);
    FormatClockReport(comparison, d, text, sizeof text);
    return text;
}

} // namespace

TEST(ClockReport, TextsAreStoredInCodePage936) {
    // 时间准确！ in GBK: the check's texts must reach the status bar in the ANSI code page, not UTF-8.
    EXPECT_EQ(Report(kClockAccurate, Diff(0, 0, 0, 0, 0, 0)), "\xCA\xB1\xBC\xE4\xD7\xBC\xC8\xB7\xA3\xA1");
    EXPECT_STREQ(kTextSetAccurate, "\xCA\xB1\xBC\xE4\xD7\xBC\xC8\xB7");
}

TEST(ClockReport, PrintsEveryFieldOfFastAndSlow) {
    EXPECT_EQ(Report(kClockAhead, Diff(0, 0, 0, 0, 0, 5)), "本机时间快了0年0月0日0时0分5秒");
    EXPECT_EQ(Report(kClockBehind, Diff(0, 0, 1, 2, 3, 5)), "本机时间慢了0年0月1日2时3分5秒");
    EXPECT_EQ(Report(kClockAhead, Diff(12, 11, 30, 23, 59, 59)), "本机时间快了12年11月30日23时59分59秒");
}

TEST(ClockReport, ShowsSlotsAsUnsignedSixteenBitNumbers) {
    EXPECT_EQ(Report(kClockBehind, Diff(-1, 0, 0, 0, 0, 0)), "本机时间慢了65535年0月0日0时0分0秒");
}

TEST(ClockReport, StaysWithinASmallBuffer) {
    char text[8];
    FormatClockReport(kClockAhead, Diff(0, 0, 0, 0, 0, 5), text, sizeof text);
    EXPECT_EQ(strlen(text), sizeof text - 1);
}

// Time Protocol answers (a round trip) and SNTP offsets (none), around 2026-03-01 00:00:00 UTC on the machine.
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
        char text[kReportSize];
        ReportClockOffset(arrived, offset, text, sizeof text);
        EXPECT_STREQ(text, row.report) << row.what;
    }
}

TEST(ClockFace, PadsEveryFieldButTheYear) {
    CivilTime t = {2014, 3, 0, 5, 7, 8, 9, 0};
    char face[32];
    FormatClockFace(t, face, sizeof face);
    EXPECT_STREQ(face, "2014-03-05 07:08:09");
}
