// The clock check and set on a machine outside UTC+8: the zone named by TZ, daylight saving included.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "fake_time_server.h"
#include "time/clock_report.h"
#include "time/time_client.h"

namespace {

// The last second before a daylight-saving start in the zone under test, and an hour and a half later, in UTC.
struct SpringForward {
    const char *zone;
    SYSTEMTIME utcBefore, utcAfter;
};

const SpringForward kZones[] = {
    {"America/New_York", {2026, 3, 0, 8, 6, 59, 59, 0}, {2026, 3, 0, 8, 8, 29, 59, 0}},
    {"Europe/Berlin", {2026, 3, 0, 29, 0, 59, 59, 0}, {2026, 3, 0, 29, 2, 29, 59, 0}},
};

const SpringForward *ZoneUnderTest() {
    const char *zone = getenv("TZ");
    for (const SpringForward &entry : kZones)
        if (zone != nullptr && strcmp(zone, entry.zone) == 0)
            return &entry;
    return nullptr;
}

SYSTEMTIME Local(const SYSTEMTIME &utc) {
    SYSTEMTIME local = {};
    EXPECT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
    return local;
}

std::string Report(const SYSTEMTIME &machine, const SYSTEMTIME &server) {
    char text[256] = {};
    ReportClocks(ToCivilTime(machine), ToCivilTime(server), text, sizeof text);
    return text;
}

} // namespace

TEST(TimeZone, AServerAnHourAndAHalfAheadAcrossTheSpringChangeReadsSo) {
    const SpringForward *zone = ZoneUnderTest();
    ASSERT_NE(zone, nullptr) << "TZ must name one of the zones this test knows";
    ASSERT_EQ(Report(Local(zone->utcBefore), Local(zone->utcAfter)), "本机时间慢了0年0月0日2时30分0秒")
        << "the local clocks lie across the change";
    EXPECT_EQ(Report(zone->utcBefore, zone->utcAfter), "本机时间慢了0年0月0日1时30分0秒");
}

TEST(TimeZone, AnAccurateServerReadsAccurateAndSetsWithoutMovingTheClock) {
    FakeTimeServer first, third;
    ASSERT_TRUE(first.Start("127.0.0.11", ServerBehaviour::Answer));
    ASSERT_TRUE(third.Start("127.0.0.13", ServerBehaviour::Answer));
    first.SetOffset(0);
    third.SetOffset(0);
    char text[256] = {};
    EXPECT_EQ(g_timeClient.CheckClock(text, sizeof text), 1);
    EXPECT_STREQ(text, "时间准确！");
    // This platform refuses to move the clock by half a second or more, so success means the set was by UTC.
    EXPECT_EQ(g_timeClient.SetClockFromServer(), 1);
    first.SetOffset(5400);
    EXPECT_EQ(g_timeClient.CheckClock(text, sizeof text), 1);
    EXPECT_STREQ(text, "本机时间慢了0年0月0日1时30分0秒");
}
