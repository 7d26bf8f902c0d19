// The time operations: ask a time server, turn its answer into UTC+8 civil time, check and set the clock.
#include "time/time_client.h"

#include <string.h>

#include "net/tcp_exchange.h"
#include "time/clock_report.h"
#include "time/time_servers.h"

const TimeClient g_timeClient;

namespace {

const unsigned short kTimeProtocolPort = 37;
const int kTimeValueSize = 4;
const int kReportSize = 256;

int ReceiveTimeValue(SOCKET, SocketReader &reader, void *context) {
    return ReceiveFull(reader.Source(), static_cast<char *>(context), kTimeValueSize) == kTimeValueSize ? 1 : 0;
}

} // namespace

CivilTime ToCivilTime(const SYSTEMTIME &time) {
    static_assert(sizeof(CivilTime) == sizeof(SYSTEMTIME), "CivilTime mirrors SYSTEMTIME");
    CivilTime civil;
    memcpy(&civil, &time, sizeof civil);
    return civil;
}

SYSTEMTIME ToSystemTime(const CivilTime &time) {
    SYSTEMTIME system;
    memcpy(&system, &time, sizeof system);
    return system;
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

int TimeClient::FetchServerTime(const int (&order)[3], SYSTEMTIME *local) const {
    for (const int server : order) {
        char host[kHostNameSize];
        AssembleTimeServerName(server, host);
        uint32_t value = 0;
        if (!QueryTimeServer(host, &value))
            continue;
        TimeValueToUtc(value, local);
        CivilTime civil = ToCivilTime(*local);
        ShiftToLocalZone(civil);
        *local = ToSystemTime(civil);
        return 1;
    }
    return 0;
}

int TimeClient::CheckClock(char *text, int length) const {
    SYSTEMTIME serverTime;
    if (!FetchServerTime(kCheckOrder, &serverTime))
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
    SYSTEMTIME serverTime;
    if (!FetchServerTime(kSetOrder, &serverTime))
        return 0;
    return SetLocalTime(&serverTime) ? 1 : 0;
}
