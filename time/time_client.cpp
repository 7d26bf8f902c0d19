// The time operations: ask the time servers, check the machine's clock against them and set it.
#include <winsock2.h>

#include "time/time_client.h"

#include <string.h>

#include "net/host_lookup.h"
#include "platform/format_text.h"
#include "platform/owned_handle.h"
#include "time/address_memory.h"
#include "time/clock_lock.h"
#include "time/clock_report.h"
#include "time/time_fetch.h"
#include "time/web_fetch.h"

const TimeClient g_timeClient;

static_assert(kLookupBoundMs + kSampleSpacingMs <= kSetLastRoundMs, "two rounds fit after the slowest look-ups");

namespace {

bool FileTimeToUtc(uint64_t intervals, SYSTEMTIME *utc) {
    FILETIME fileTime;
    fileTime.dwLowDateTime = static_cast<DWORD>(intervals);
    fileTime.dwHighDateTime = static_cast<DWORD>(intervals >> 32);
    return FileTimeToSystemTime(&fileTime, utc) != FALSE;
}

// The servers' offset, asked in `order`, of the names given or else the built-in ones. The names are looked up
// together first, and each address is asked once; `clock` starts only then, so that no look-up lies inside the
// measurement. reading is filled when a server answered.
int FetchOffset(const TimeServerNames *names, const int (&order)[kTimeServerCount], int sntpRounds, MeasureClock *clock,
                ClockReading *reading) {
    TimeServerNames builtIn;
    if (names == nullptr) {
        for (int number = 1; number <= kTimeServerCount; ++number)
            AssembleTimeServerName(number, builtIn.host[number - 1]);
        names = &builtIn;
    }
    const char *hosts[kTimeServerCount];
    for (int i = 0; i < kTimeServerCount; ++i)
        hosts[i] = names->host[order[i] - 1];
    const char *webHosts[kTimeServerCount];
    TakeWebHosts(hosts, webHosts, kTimeServerCount);
    HostAddresses servers[kTimeServerCount];
    const ULONGLONG lookupStart = GetTickCount64();
    ResolveHosts(hosts, kTimeServerCount, kLookupBoundMs, servers);
    HostAddresses web[kTimeServerCount];
    TakeWebAddresses(webHosts, servers, web, kTimeServerCount);
    // Waited out before the measurement, so that the spacing counts against no server's bound.
    Sleep(PrepareAddresses(servers, kTimeServerCount));
    // Slow look-ups and the spacing leave a set room for fewer rounds, so that it still ends within its bound.
    while (sntpRounds > 1 && GetTickCount64() - lookupStart + (sntpRounds - 1) * kSampleSpacingMs > kSetLastRoundMs)
        --sntpRounds;
    clock->Start();
    TimeAnswer answer;
    if (FetchClockOffset(servers, kTimeServerCount, sntpRounds, *clock, &answer, web, webHosts))
        *reading = ClockReading{answer.offset, order[answer.host], answer.protocol, answer.agreed};
    else if (AskWebTimeHosts(clock, &answer))
        *reading = ClockReading{answer.offset, kTimeServerCount + 1 + answer.host, kProtocolHttp, answer.agreed};
    else
        return 0;
    return 1;
}

// Setting the clock needs the system-time privilege enabled in the (elevated) process token.
bool EnableSystemTimePrivilege() {
    OwnedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Out()))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    return LookupPrivilegeValueA(nullptr, SE_SYSTEMTIME_NAME, &privileges.Privileges[0].Luid) &&
           AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr) &&
           GetLastError() == ERROR_SUCCESS;
}

} // namespace

CivilTime ToCivilTime(const SYSTEMTIME &time) {
    static_assert(sizeof(CivilTime) == sizeof(SYSTEMTIME), "CivilTime mirrors SYSTEMTIME");
    CivilTime civil;
    memcpy(&civil, &time, sizeof civil);
    return civil;
}

int TimeClient::QueryTimeServer(const char *host, uint32_t *value) const {
    HostAddresses server;
    ResolveHosts(&host, 1, kLookupBoundMs, &server);
    const MeasureClock clock;
    TimeAnswer answer;
    if (!FetchClockOffset(&server, 1, 0, clock, &answer))
        return 0;
    *value = answer.value;
    return 1;
}

void TimeClient::TimeValueToUtc(uint32_t value, SYSTEMTIME *utc) const {
    FileTimeToUtc(TimeValueToFileTime(ntohl(value)), utc);
}

int TimeClient::CheckClock(char *text, int length, const TimeServerNames *names, ClockReading *reading) const {
    ClockReading read;
    reading = reading != nullptr ? reading : &read;
    *reading = ClockReading{};
    const ClockLock lock;
    if (!lock.Held())
        return kCheckBusy;
    MeasureClock clock;
    if (!FetchOffset(names, kCheckOrder, 1, &clock, reading))
        return kCheckNoServer;
    // The machine's time against the same time moved by the seconds the offset reports, both in UTC, so that a
    // daylight-saving change cannot put the report an hour out.
    const uint64_t now = clock.MachineTimeNow();
    SYSTEMTIME machine;
    SYSTEMTIME server;
    if (!FileTimeToUtc(now, &machine) ||
        !FileTimeToUtc(
            now + static_cast<uint64_t>(ReportedSeconds(reading->offset) * static_cast<int64_t>(kIntervalsPerSecond)),
            &server))
        return 0;
    char report[kReportSize] = {};
    ReportClocks(ToCivilTime(machine), ToCivilTime(server), report, sizeof report);
    if (length > 0)
        FormatText(text, static_cast<size_t>(length < kReportSize ? length : kReportSize), "%s", report);
    return 1;
}

int TimeClient::SetClockFromServer(const TimeServerNames *names, ClockReading *reading) const {
    ClockReading read;
    reading = reading != nullptr ? reading : &read;
    *reading = ClockReading{};
    // Enabled first, so that the time is set the moment the offset is known.
    if (!EnableSystemTimePrivilege())
        return kSetNoPrivilege;
    const ClockLock lock;
    if (!lock.Held())
        return kSetBusy;
    MeasureClock clock;
    if (!FetchOffset(names, kSetOrder, kSetRounds, &clock, reading))
        return kSetNoServer;
    if (!reading->agreed)
        return kSetTooFar;
    SYSTEMTIME server;
    if (!FileTimeToUtc(clock.MachineTimeNow() +
                           static_cast<uint64_t>(reading->offset.milliseconds * kIntervalsPerMillisecond),
                       &server))
        return kSetRefused;
    // Set as UTC: the machine's zone and its daylight saving then follow by themselves.
    return SetSystemTime(&server) ? kSetDone : kSetRefused;
}
