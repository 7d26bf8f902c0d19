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

TEST(ClockFace, PadsEveryFieldButTheYear) {
    CivilTime t = {2014, 3, 0, 5, 7, 8, 9, 0};
    char face[32];
    FormatClockFace(t, face, sizeof face);
    EXPECT_STREQ(face, "2014-03-05 07:08:09");
}
