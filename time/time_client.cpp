// The time operations: ask the time servers, check the machine's clock against them and set it.
#include "time/time_client.h"

#include <string.h>

#include "net/tcp_exchange.h"
#include "net/udp_exchange.h"
#include "platform/owned_handle.h"
#include "time/clock_report.h"
#include "time/sntp.h"

const TimeClient g_timeClient;

namespace {

const unsigned short kTimeProtocolPort = 37;
const unsigned short kSntpPort = 123;
const int kTimeValueSize = 4;

static_assert(kTimeServerCount <= kMaxDatagramPeers, "one SNTP round asks every server");

// Servers that sent a kiss-o'-death DENY or RSTR are not asked by SNTP again while the program runs. Shared by every
// worker; a slot is claimed once, atomically, and never cleared.
volatile LONG g_deniedAddresses[8];

bool IsDenied(uint32_t address) {
    for (const volatile LONG &slot : g_deniedAddresses)
        if (static_cast<uint32_t>(slot) == address)
            return true;
    return false;
}

void Deny(uint32_t address) {
    for (volatile LONG &slot : g_deniedAddresses) {
        const LONG held = InterlockedCompareExchange(&slot, static_cast<LONG>(address), 0);
        if (held == 0 || static_cast<uint32_t>(held) == address)
            return;
    }
}

uint64_t FileTimeNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

void FileTimeToUtc(uint64_t intervals, SYSTEMTIME *utc) {
    FILETIME fileTime;
    fileTime.dwLowDateTime = static_cast<DWORD>(intervals);
    fileTime.dwHighDateTime = static_cast<DWORD>(intervals >> 32);
    FileTimeToSystemTime(&fileTime, utc);
}

// One SNTP round over the servers: what each request carried, and the offset the first usable answer gave.
struct SntpRound {
    uint64_t sentAt[kTimeServerCount];
    uint64_t transmit[kTimeServerCount];
    int64_t offset;
};

int FormatRequest(void *context, int peer, uint32_t address, char *packet) {
    if (IsDenied(address))
        return 0;
    SntpRound &round = *static_cast<SntpRound *>(context);
    round.sentAt[peer] = FileTimeNow();
    // The low bits lie below the clock's resolution: a counter's makes the time stamp harder to guess.
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    round.transmit[peer] = FileTimeToNtpTimestamp(round.sentAt[peer]) ^ static_cast<uint64_t>(counter.QuadPart & 0xFF);
    FormatSntpRequest(round.transmit[peer], reinterpret_cast<unsigned char *>(packet));
    return kSntpPacketSize;
}

int TakeAnswer(void *context, int peer, uint32_t address, const char *packet, int length) {
    const uint64_t arrivedAt = FileTimeNow();
    SntpRound &round = *static_cast<SntpRound *>(context);
    SntpAnswer answer;
    const int verdict = ParseSntpAnswer(reinterpret_cast<const unsigned char *>(packet), static_cast<size_t>(length),
                                        round.transmit[peer], &answer);
    if (verdict == kSntpDenied)
        Deny(address);
    if (verdict != kSntpTime)
        return 0;
    round.offset = SntpClockOffset(round.sentAt[peer], answer.received, answer.transmitted, arrivedAt);
    return 1;
}

int ReceiveTimeValue(SOCKET, SocketReader &reader, void *context) {
    return ReceiveFull(reader.Source(), static_cast<char *>(context), kTimeValueSize) == kTimeValueSize ? 1 : 0;
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
    char received[kTimeValueSize] = {};
    if (!RunTcpExchange(host, kTimeProtocolPort, kServerAttemptMs, ReceiveTimeValue, received))
        return 0;
    memcpy(value, received, sizeof received);
    return 1;
}

void TimeClient::TimeValueToUtc(uint32_t value, SYSTEMTIME *utc) const {
    FileTimeToUtc(TimeValueToFileTime(ntohl(value)), utc);
}

int TimeClient::FetchServerTime(const TimeServerNames *names, const int (&order)[kTimeServerCount], SYSTEMTIME *server,
                                SYSTEMTIME *machine) const {
    TimeServerNames builtIn;
    if (names == nullptr) {
        for (int number = 1; number <= kTimeServerCount; ++number)
            AssembleTimeServerName(number, builtIn.host[number - 1]);
        names = &builtIn;
    }
    const char *hosts[kTimeServerCount];
    for (int i = 0; i < kTimeServerCount; ++i) {
        hosts[i] = names->host[order[i] - 1];
        uint32_t value = 0;
        if (QueryTimeServer(hosts[i], &value)) {
            TimeValueToUtc(value, server);
            GetSystemTime(machine);
            return 1;
        }
    }
    SntpRound round = {};
    if (!RunUdpRound(hosts, kTimeServerCount, kSntpPort, kSntpWaitMs, FormatRequest, TakeAnswer, &round))
        return 0;
    const uint64_t now = FileTimeNow();
    FileTimeToUtc(now, machine);
    FileTimeToUtc(now + static_cast<uint64_t>(round.offset), server);
    return 1;
}

int TimeClient::CheckClock(char *text, int length, const TimeServerNames *names) const {
    SYSTEMTIME server;
    SYSTEMTIME machine;
    if (!FetchServerTime(names, kCheckOrder, &server, &machine))
        return 0;
    // Both in UTC, so that a daylight-saving change between the two cannot put the report an hour out.
    char report[kReportSize] = {};
    ReportClocks(ToCivilTime(machine), ToCivilTime(server), report, sizeof report);
    const int copied = length < 0 ? 0 : (length < kReportSize ? length : kReportSize);
    memcpy(text, report, static_cast<size_t>(copied));
    return 1;
}

int TimeClient::SetClockFromServer(const TimeServerNames *names) const {
    // Enabled first, so that an SNTP time is set the moment it has been worked out.
    EnableSystemTimePrivilege();
    SYSTEMTIME server;
    SYSTEMTIME machine;
    if (!FetchServerTime(names, kSetOrder, &server, &machine))
        return 0;
    // Set as UTC: the machine's zone and its daylight saving then follow by themselves.
    return SetSystemTime(&server) ? 1 : 0;
}
