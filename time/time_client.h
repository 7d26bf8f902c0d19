// The time operations: ask the time servers, check the machine's clock against them and set it.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "time/calendar.h"
#include "time/time_servers.h"

class TimeClient {
public:
    // At most this long per server, connecting and reading together (name look-up aside).
    static const DWORD kServerAttemptMs = 5000;
    // At most this long for all SNTP answers together, when no server answered on port 37.
    static const DWORD kSntpWaitMs = 5000;

    // Fills value with the server's four bytes, still in network byte order. Returns 1 when all four arrived,
    // 0 when the name did not resolve, the connection failed, or the server closed or fell silent too early.
    int QueryTimeServer(const char *host, uint32_t *value) const;
    void TimeValueToUtc(uint32_t value, SYSTEMTIME *utc) const;
    // Writes the report into text (length bytes, at most 256) and returns 1, or returns 0 and leaves text alone
    // when no server answered. names: the servers to ask; null for the built-in ones.
    int CheckClock(char *text, int length, const TimeServerNames *names = nullptr) const;
    // Returns 1 when a server answered and the platform accepted its time as the new system (UTC) time.
    int SetClockFromServer(const TimeServerNames *names = nullptr) const;

private:
    // Asks the servers in order over the Time Protocol, and when none answers, all of them together by SNTP. On 1,
    // `server` holds the server's UTC time and `machine` the machine's, read at once after the answer.
    int FetchServerTime(const TimeServerNames *names, const int (&order)[kTimeServerCount], SYSTEMTIME *server,
                        SYSTEMTIME *machine) const;
};

extern const TimeClient g_timeClient;

CivilTime ToCivilTime(const SYSTEMTIME &time);
