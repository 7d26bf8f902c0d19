// The time operations: ask the time servers, check the machine's clock against them and set it.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "time/calendar.h"
#include "time/time_servers.h"

class TimeClient {
public:
    // Fills value with the server's four bytes, still in network byte order. Returns 1 when all four arrived,
    // 0 when the name did not resolve, the connection failed, the server closed or fell silent too early, or it named
    // a time before this build's day.
    int QueryTimeServer(const char *host, uint32_t *value) const;
    void TimeValueToUtc(uint32_t value, SYSTEMTIME *utc) const;
    // Writes the report into text (length bytes, at most 256) and returns 1, or returns 0 and leaves text alone
    // when no server answered. names: the servers to ask; null for the built-in ones.
    int CheckClock(char *text, int length, const TimeServerNames *names = nullptr) const;
    // Returns 1 when a server answered and the platform accepted the machine's time moved by the server's offset as
    // the new system (UTC) time.
    int SetClockFromServer(const TimeServerNames *names = nullptr) const;
};

extern const TimeClient g_timeClient;

CivilTime ToCivilTime(const SYSTEMTIME &time);
