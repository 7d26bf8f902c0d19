// The Time Protocol client, the clock check and the clock set against fake servers on loopback.
#include <gtest/gtest.h>

#include <string.h>

#include <initializer_list>

#include "fake_time_server.h"
#include "time/time_client.h"
#include "net/udp_exchange.h"
#include "time/address_memory.h"
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

// Servers at the given loopback addresses, each a list of addresses (with a port where it is not the protocol's)
// separated by blanks.
struct Servers {
    HostAddresses hosts[3] = {};
    explicit Servers(std::initializer_list<const char *> servers) {
        int server = 0;
        for (const char *addresses : servers) {
            char copy[64];
            strcpy(copy, addresses);
            for (char *address = strtok(copy, " "); address != nullptr; address = strtok(nullptr, " ")) {
                sockaddr_in &at = hosts[server].address[hosts[server].count++].v4;
                char *port = strchr(address, ':');
                at.sin_port = port != nullptr ? htons(static_cast<u_short>(atoi(port + 1))) : 0;
                if (port != nullptr)
                    *port = '\0';
                at.sin_family = AF_INET;
                at.sin_addr.s_addr = inet_addr(address);
            }
            ++server;
        }
    }
};

// Fetches from the servers as the check does, or with `rounds`, a set; the time it took, in ms, into `elapsed`.
int Fetch(const Servers &servers, TimeAnswer *answer, ULONGLONG *elapsed, int rounds = 1) {
    const ULONGLONG start = GetTickCount64();
    const MeasureClock clock;
    const int result = FetchClockOffset(servers.hosts, 3, rounds, clock, answer);
    *elapsed = GetTickCount64() - start;
    return result;
}

// The address memory's clock, moved by hand from the far-apart clock's reading, so that what a case leaves is long
// past when that clock is read next.
DWORD g_now;
DWORD WINAPI HandClock() {
    return g_now;
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
    second.SetOffset(1800); // half an hour off: this platform refuses to move the clock that far
    SYSTEMTIME before;
    GetLocalTime(&before);
    EXPECT_EQ(g_timeClient.SetClockFromServer(), kSetRefused);
    EXPECT_EQ(second.Connections(), 1);
    SYSTEMTIME after;
    GetLocalTime(&after);
    EXPECT_LT((after.wHour * 60 + after.wMinute - before.wHour * 60 - before.wMinute + 1440) % 1440, 2)
        << "the clock did not move by half an hour";
}

TEST(FetchClockOffset, GathersSntpAnswersUntilAllCameOr250MsAfterTheFirst) {
    FakeSntpServer first, second, third;
    ASSERT_TRUE(first.Start(1231, SntpBehaviour::Answer, 2000));
    ASSERT_TRUE(second.Start(1232, SntpBehaviour::Answer, 2000, 100));
    ASSERT_TRUE(third.Start(1233, SntpBehaviour::Answer, 50000));
    TimeAnswer answer;
    ULONGLONG elapsed;
    ASSERT_EQ(Fetch(Servers{"127.0.0.1:1231", "127.0.0.1:1232", "127.0.0.1:1233"}, &answer, &elapsed), 1);
    EXPECT_EQ(answer.protocol, kProtocolSntp);
    EXPECT_NE(answer.host, 2) << "two that agree outvote one";
    EXPECT_NEAR(static_cast<double>(answer.offset.milliseconds), 2000, 20);
    EXPECT_LT(elapsed, 240u) << "all three answered: no waiting out the 250 ms";

    // Server 1's first address is silent and its second asked beside it; server 2 is silent, and server 3 sends
    // datagrams that answer nothing, which must not hold the round open past 250 ms after the one answer.
    second.Stop();
    ASSERT_TRUE(second.Start(1232, SntpBehaviour::Silent));
    third.Stop();
    ASSERT_TRUE(third.Start(1233, SntpBehaviour::Chatter));
    ASSERT_EQ(Fetch(Servers{"127.0.0.31 127.0.0.1:1231", "127.0.0.1:1232", "127.0.0.1:1233"}, &answer, &elapsed), 1);
    EXPECT_EQ(answer.host, 0);
    EXPECT_GE(elapsed, kSntpGatherMs - 10);
    EXPECT_LT(elapsed, kSntpGatherMs + 200);
    EXPECT_EQ(first.Requests(), 2);
}

TEST(FetchClockOffset, ASetAsksEveryAddressEachRoundFourSecondsApartWithinNineSeconds) {
    FakeSntpServer first, firstOther, third;
    ASSERT_TRUE(first.Start(1231, SntpBehaviour::Answer, 7000));
    ASSERT_TRUE(firstOther.Start(1234, SntpBehaviour::Answer, 7000));
    ASSERT_TRUE(third.Start(1233, SntpBehaviour::Answer, 7000, 30));
    TimeAnswer answer;
    ULONGLONG elapsed;
    ASSERT_EQ(
        Fetch(Servers{"127.0.0.1:1231 127.0.0.1:1234", kServer2, "127.0.0.1:1233"}, &answer, &elapsed, kSetRounds), 1);
    EXPECT_EQ(answer.protocol, kProtocolSntp);
    EXPECT_NEAR(static_cast<double>(answer.offset.milliseconds), 7000, 20);
    EXPECT_TRUE(answer.agreed);
    EXPECT_GE(elapsed, (kSetRounds - 1) * kSampleSpacingMs);
    EXPECT_LT(elapsed, 9000u);
    for (const FakeSntpServer *server : {&first, &firstOther, &third}) {
        ASSERT_EQ(server->Requests(), kSetRounds);
        for (long round = 1; round < kSetRounds; ++round)
            EXPECT_GE(server->RequestedAt(round) - server->RequestedAt(round - 1), 4000u);
    }
}

TEST(FetchClockOffset, TakesAPort37AnswerOnlyWhenSntpHasNoneAfterASecond) {
    FakeTimeServer port37;
    ASSERT_TRUE(port37.Start(kServer1, ServerBehaviour::Answer));
    port37.SetOffset(7);
    FakeSntpServer sntp;
    ASSERT_TRUE(sntp.Start(1231, SntpBehaviour::Answer, 7000, 900)); // held 0.9 s by the server, which is no trip
    const Servers servers{"127.0.0.1:1231 127.0.0.11", kServer2, kServer3};
    TimeAnswer answer;
    ULONGLONG elapsed;
    ASSERT_EQ(Fetch(servers, &answer, &elapsed), 1);
    EXPECT_EQ(answer.protocol, kProtocolSntp);
    EXPECT_NEAR(static_cast<double>(answer.offset.milliseconds), 7000, 20);
    EXPECT_EQ(port37.Connections(), 0) << "port 37 waits a second for SNTP before it asks";

    sntp.Stop();
    ASSERT_TRUE(sntp.Start(1231, SntpBehaviour::Silent));
    ASSERT_EQ(Fetch(servers, &answer, &elapsed), 1);
    EXPECT_EQ(answer.protocol, kProtocolTime);
    EXPECT_GE(elapsed, kSntpFirstMs - 20);
    EXPECT_NEAR(static_cast<double>(answer.offset.milliseconds), 7000, 520);
}

TEST(AddressMemory, WaitsOutTheSpacingForEveryAddressOfThreeServersAndBacksOffARateKissOnBothProtocols) {
    g_addressClock = HandClock;
    g_now = 0xFFFFF000u; // the tick count wraps meanwhile
    Servers servers{"127.0.0.21 127.0.0.22"};
    ClaimQuery(servers.hosts[0].address[0]);
    g_now += 5000;
    ClaimQuery(servers.hosts[0].address[1]);
    g_now += 1000;
    EXPECT_EQ(PrepareAddresses(servers.hosts, 1), kAddressSpacingMs - 1000)
        << "the latest query counts, an old one not";
    g_now += kAddressSpacingMs;
    SocketAddress many[3 * kMaxHostAddresses] = {};
    for (int i = 0; i < 3 * kMaxHostAddresses; ++i) {
        many[i].v4.sin_family = AF_INET;
        many[i].v4.sin_addr.s_addr = htonl(0x7F010001 + i);
        ClaimQuery(many[i]);
    }
    for (const SocketAddress &address : many) {
        HostAddresses one = {1, {address}};
        EXPECT_EQ(PrepareAddresses(&one, 1), kAddressSpacingMs);
    }

    // A RATE by SNTP: port 37 is not asked either, nor anything until the back-off has passed.
    g_now = FarApartClock();
    FakeSntpServer sntp;
    FakeTimeServer port37;
    ASSERT_TRUE(sntp.Start(1241, SntpBehaviour::Rate));
    ASSERT_TRUE(port37.Start("127.0.0.1", ServerBehaviour::Answer, 1241));
    port37.SetOffset(0);
    const Servers rate{"127.0.0.1:1241"};
    TimeAnswer answer;
    EXPECT_EQ(FetchClockOffset(rate.hosts, 3, 1, MeasureClock(), &answer), 0);
    for (DWORD later : {kRateBackoffMs - 1, DWORD{1}}) {
        g_now += later;
        Servers again = rate;
        PrepareAddresses(again.hosts, 3);
        EXPECT_EQ(FetchClockOffset(again.hosts, 3, 0, MeasureClock(), &answer), later == 1 ? 1 : 0);
    }
    EXPECT_EQ(sntp.Requests(), 1);
    EXPECT_EQ(port37.Connections(), 1);
    g_addressClock = FarApartClock;
}
