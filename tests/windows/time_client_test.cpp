// The Time Protocol client, the clock check and the clock set against fake servers on loopback.
#include <gtest/gtest.h>

#include <string.h>

#include "fake_time_server.h"
#include "time/time_client.h"
#include "time/time_fetch.h"

namespace {

// The three server names resolve to these addresses inside the test namespace.
const char kServer1[] = "127.0.0.11";
const char kServer2[] = "127.0.0.12";
const char kServer3[] = "127.0.0.13";
const uint32_t k2014March5 = 3602966400u;

ULONGLONG MillisecondsSince(ULONGLONG start) {
    return GetTickCount64() - start;
}

SYSTEMTIME Utc(uint32_t hostOrderValue) {
    SYSTEMTIME utc = {};
    g_timeClient.TimeValueToUtc(htonl(hostOrderValue), &utc);
    return utc;
}

} // namespace

TEST(QueryTimeServer, ReadsAWholeAnswerEvenInPieces) {
    for (ServerBehaviour behaviour : {ServerBehaviour::Answer, ServerBehaviour::SplitAnswer}) {
        FakeTimeServer server;
        ASSERT_TRUE(server.Start(kServer1, behaviour));
        const uint32_t now = SecondsSince1900Now();
        server.SetValue(now);
        uint32_t value = 0;
        EXPECT_EQ(g_timeClient.QueryTimeServer("time.nist.gov", &value), 1);
        EXPECT_EQ(ntohl(value), now);
        EXPECT_EQ(server.Connections(), 1);
    }
}

TEST(QueryTimeServer, TreatsShortAnswersClosedConnectionsAndTimesBeforeTheBuildAsNoAnswer) {
    for (ServerBehaviour behaviour : {ServerBehaviour::ShortAnswer, ServerBehaviour::Close, ServerBehaviour::Answer}) {
        FakeTimeServer server;
        ASSERT_TRUE(server.Start(kServer1, behaviour));
        server.SetValue(k2014March5);
        uint32_t value = 0x12345678;
        EXPECT_EQ(g_timeClient.QueryTimeServer(kServer1, &value), 0);
        EXPECT_EQ(value, 0x12345678u) << "the caller's cell keeps its value";
        EXPECT_EQ(server.Connections(), 1);
    }
}

TEST(QueryTimeServer, FailsFastOnRefusalAndUnknownNames) {
    const ULONGLONG start = GetTickCount64();
    uint32_t value = 0;
    EXPECT_EQ(g_timeClient.QueryTimeServer(kServer2, &value), 0);
    EXPECT_EQ(g_timeClient.QueryTimeServer("no-such-host.invalid", &value), 0);
    EXPECT_LT(MillisecondsSince(start), 2000u);
}

TEST(QueryTimeServer, GivesUpOnASilentServerWithinTheBound) {
    FakeTimeServer server;
    ASSERT_TRUE(server.Start(kServer1, ServerBehaviour::Silent));
    const ULONGLONG start = GetTickCount64();
    uint32_t value = 0;
    EXPECT_EQ(g_timeClient.QueryTimeServer(kServer1, &value), 0);
    const ULONGLONG elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, kServerAttemptMs - 100);
    EXPECT_LE(elapsed, kServerAttemptMs + 1000);
}

TEST(TimeValueToUtc, ConvertsThroughThePlatform) {
    SYSTEMTIME t = Utc(k2014March5);
    EXPECT_EQ(t.wYear, 2014);
    EXPECT_EQ(t.wMonth, 3);
    EXPECT_EQ(t.wDay, 5);
    EXPECT_EQ(t.wHour + t.wMinute + t.wSecond + t.wMilliseconds, 0);

    t = Utc(0xFFFFFFFFu);
    EXPECT_EQ(t.wYear, 2036);
    EXPECT_EQ(t.wMonth, 2);
    EXPECT_EQ(t.wDay, 7);
    EXPECT_EQ(t.wHour, 6);
    EXPECT_EQ(t.wMinute, 28);
    EXPECT_EQ(t.wSecond, 15);

    t = Utc(0); // the next era, never 1900
    EXPECT_EQ(t.wYear, 2036);
    EXPECT_EQ(t.wSecond, 16);
}

TEST(CheckClock, AsksTheServersInOrderAndStopsAtTheFirstAnswer) {
    FakeTimeServer first, second, third;
    ASSERT_TRUE(first.Start(kServer1, ServerBehaviour::Close));
    ASSERT_TRUE(second.Start(kServer2, ServerBehaviour::Answer));
    ASSERT_TRUE(third.Start(kServer3, ServerBehaviour::Answer));
    second.SetOffset(0);
    char text[256] = {};
    EXPECT_EQ(g_timeClient.CheckClock(text, sizeof text), 1);
    EXPECT_STREQ(text, "时间准确！");
    EXPECT_EQ(first.Connections(), 1);
    EXPECT_EQ(second.Connections(), 1);
    EXPECT_EQ(third.Connections(), 0);
}

TEST(CheckClock, ReportsAMachineThatIsSlowOrFast) {
    FakeTimeServer first;
    ASSERT_TRUE(first.Start(kServer1, ServerBehaviour::Answer));
    char text[256] = {};
    first.SetOffset(((1 * 24 + 2) * 60 + 3) * 60 + 5);
    EXPECT_EQ(g_timeClient.CheckClock(text, sizeof text), 1);
    EXPECT_STREQ(text, "本机时间慢了0年0月1日2时3分5秒");
    first.SetOffset(-5);
    EXPECT_EQ(g_timeClient.CheckClock(text, sizeof text), 1);
    EXPECT_STREQ(text, "本机时间快了0年0月0日0时0分5秒");
}

TEST(CheckClock, LeavesTheBufferAloneWhenNoServerAnswers) {
    FakeTimeServer second;
    ASSERT_TRUE(second.Start(kServer2, ServerBehaviour::ShortAnswer));
    char text[256] = "unchanged";
    EXPECT_EQ(g_timeClient.CheckClock(text, sizeof text), 0);
    EXPECT_STREQ(text, "unchanged");
    EXPECT_EQ(second.Connections(), 1);
}

TEST(SetClockFromServer, AsksServerThreeFirstThenOneThenTwo) {
    FakeTimeServer first, second, third;
    ASSERT_TRUE(first.Start(kServer1, ServerBehaviour::Answer));
    ASSERT_TRUE(second.Start(kServer2, ServerBehaviour::Answer));
    ASSERT_TRUE(third.Start(kServer3, ServerBehaviour::Answer));
    first.SetOffset(0);
    third.SetOffset(0);
    EXPECT_EQ(g_timeClient.SetClockFromServer(), 1) << "a time equal to the machine's is accepted";
    EXPECT_EQ(third.Connections(), 1);
    EXPECT_EQ(first.Connections() + second.Connections(), 0);

    third.Stop();
    EXPECT_EQ(g_timeClient.SetClockFromServer(), 1);
    EXPECT_EQ(first.Connections(), 1);
    EXPECT_EQ(second.Connections(), 0);
}

TEST(SetClockFromServer, FailsWhenNoServerAnswersOrThePlatformRefuses) {
    EXPECT_EQ(g_timeClient.SetClockFromServer(), 0);

    FakeTimeServer second;
    ASSERT_TRUE(second.Start(kServer2, ServerBehaviour::Answer));
    second.SetOffset(3600); // an hour off: this platform refuses to move the clock that far
    SYSTEMTIME before;
    GetLocalTime(&before);
    EXPECT_EQ(g_timeClient.SetClockFromServer(), kSetRefused);
    EXPECT_EQ(second.Connections(), 1);
    SYSTEMTIME after;
    GetLocalTime(&after);
    EXPECT_EQ(after.wHour, before.wHour) << "the clock did not move by an hour";
}
