// The clock check and set on a machine outside UTC+8: the zone named by TZ, daylight saving included.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "fake_time_server.h"
#include "time/time_client.h"

namespace {

// A daylight-saving start in the zone under test: the last second before it and the first after, in UTC, and the
// local times they read as.
struct SpringForward {
    const char *zone;
    SYSTEMTIME utcBefore, localBefore, utcAfter, localAfter;
};

const SpringForward kZones[] = {
    {"America/New_York",
     {2026, 3, 0, 8, 6, 59, 59, 0},
     {2026, 3, 0, 8, 1, 59, 59, 0},
     {2026, 3, 0, 8, 7, 0, 0, 0},
     {2026, 3, 0, 8, 3, 0, 0, 0}},
    {"Europe/Berlin",
     {2026, 3, 0, 29, 0, 59, 59, 0},
     {2026, 3, 0, 29, 1, 59, 59, 0},
     {2026, 3, 0, 29, 1, 0, 0, 0},
     {2026, 3, 0, 29, 3, 0, 0, 0}},
};

const SpringForward *ZoneUnderTest() {
    const char *zone = getenv("TZ");
    for (const SpringForward &entry : kZones)
        if (zone != nullptr && strcmp(zone, entry.zone) == 0)
            return &entry;
    return nullptr;
}

void ExpectLocal(const SYSTEMTIME &utc, const SYSTEMTIME &expected) {
    SYSTEMTIME local = {};
    ASSERT_EQ(g_timeClient.UtcToLocal(utc, &local), 1);
    EXPECT_EQ(local.wYear, expected.wYear);
    EXPECT_EQ(local.wMonth, expected.wMonth);
    EXPECT_EQ(local.wDay, expected.wDay);
    EXPECT_EQ(local.wHour, expected.wHour);
    EXPECT_EQ(local.wMinute, expected.wMinute);
    EXPECT_EQ(local.wSecond, expected.wSecond);
}

} // namespace

TEST(TimeZone, ConvertsWithTheRulesOfTheMomentConverted) {
    const SpringForward *zone = ZoneUnderTest();
    ASSERT_NE(zone, nullptr) << "TZ must name one of the zones this test knows";
    ExpectLocal(zone->utcBefore, zone->localBefore);
    ExpectLocal(zone->utcAfter, zone->localAfter);
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
}
