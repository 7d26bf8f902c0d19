// The time operations: ask a time server, turn its answer into the machine's local time, check and set the clock.
#include "time/time_client.h"

#include <string.h>

#include "net/tcp_exchange.h"
#include "platform/owned_handle.h"
#include "time/clock_report.h"
#include "time/time_servers.h"

const TimeClient g_timeClient;

namespace {

const unsigned short kTimeProtocolPort = 37;
const int kTimeValueSize = 4;

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
    const uint64_t intervals = TimeValueToFileTime(ntohl(value));
    FILETIME fileTime;
    fileTime.dwLowDateTime = static_cast<DWORD>(intervals);
    fileTime.dwHighDateTime = static_cast<DWORD>(intervals >> 32);
    FileTimeToSystemTime(&fileTime, utc);
}

int TimeClient::UtcToLocal(const SYSTEMTIME &utc, SYSTEMTIME *local) const {
    return SystemTimeToTzSpecificLocalTime(nullptr, &utc, local) ? 1 : 0;
}

int TimeClient::FetchServerTime(const int (&order)[3], SYSTEMTIME *utc) const {
    for (const int server : order) {
        char host[kHostNameSize];
        AssembleTimeServerName(server, host);
        uint32_t value = 0;
        if (!QueryTimeServer(host, &value))
            continue;
        TimeValueToUtc(value, utc);
        return 1;
    }
    return 0;
}

int TimeClient::CheckClock(char *text, int length) const {
    SYSTEMTIME serverUtc;
    SYSTEMTIME serverTime;
    if (!FetchServerTime(kCheckOrder, &serverUtc) || !UtcToLocal(serverUtc, &serverTime))
        return 0;
    SYSTEMTIME machineTime;
    GetLocalTime(&machineTime);

    CivilTime later = ToCivilTime(machineTime);
    CivilTime earlier = ToCivilTime(serverTime);
    TimeDifference diff = {};
    const int comparison = CompareClocks(later, earlier);
    if (comparison != kClockAccurate)
        ClockDifference(later, earlier, diff);

    char report[kReportSize] = {};
    FormatClockReport(comparison, diff, report, sizeof report);
    const int copied = length < 0 ? 0 : (length < kReportSize ? length : kReportSize);
    memcpy(text, report, static_cast<size_t>(copied));
    return 1;
}

int TimeClient::SetClockFromServer() const {
    SYSTEMTIME serverUtc;
    if (!FetchServerTime(kSetOrder, &serverUtc))
        return 0;
    // Set as UTC: the machine's zone and its daylight saving then follow by themselves.
    EnableSystemTimePrivilege();
    return SetSystemTime(&serverUtc) ? 1 : 0;
}
