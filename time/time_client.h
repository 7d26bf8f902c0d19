// The time operations: ask a time server, turn its answer into the machine's local time, check and set the clock.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "time/calendar.h"

class TimeClient {
public:
    // At most this long per server, connecting and reading together (name look-up aside).
    static const DWORD kServerAttemptMs = 5000;

    // Fills value with the server's four bytes, still in network byte order. Returns 1 when all four arrived,
    // 0 when the name did not resolve, the connection failed, or the server closed or fell silent too early.
    int QueryTimeServer(const char *host, uint32_t *value) const;
    void TimeValueToUtc(uint32_t value, SYSTEMTIME *utc) const;
    // The server's UTC time as local time under the machine's zone rules, daylight saving of that moment included.
    int UtcToLocal(const SYSTEMTIME &utc, SYSTEMTIME *local) const;
    // Writes the report into text (length bytes, at most 256) and returns 1, or returns 0 and leaves text alone
    // when no server answered.
    int CheckClock(char *text, int length) const;
    // Returns 1 when a server answered and the platform accepted its time as the new system (UTC) time.
    int SetClockFromServer() const;

private:
    // Tries the servers in order; on 1 the answering server's time is in `utc`.
    int FetchServerTime(const int (&order)[3], SYSTEMTIME *utc) const;
};

extern const TimeClient g_timeClient;

CivilTime ToCivilTime(const SYSTEMTIME &time);
