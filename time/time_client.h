// The time operations: ask the time servers, check the machine's clock against them and set it.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "time/calendar.h"
#include "time/clock_offset.h"
#include "time/time_servers.h"

// What a check or set read: the offset, and which server gave it over which protocol.
struct ClockReading {
    ClockOffset offset;
    // 1 to 3: the slot of the server that gave the offset; 4 or 5: built-in web host 1 or 2; 0 when none answered.
    int server;
    TimeProtocol protocol;
    // Whether a set may make the correction: at most an hour, or two addresses agree on it within a second.
    bool agreed;
};

// How a set ended.
enum SetClockResult {
    kSetNoServer = 0,    // no server answered
    kSetDone = 1,        // the clock was set
    kSetRefused = 2,     // Windows refused the time, or it could not be converted
    kSetNoPrivilege = 3, // the process could not enable the right to set the clock
    kSetBusy = 4,        // another check or set held the machine's clock lock past its bound, or it was refused
    kSetTooFar = 5,      // a correction of over an hour that too few servers agreed on
};

// CheckClock's results.
enum CheckClockResult { kCheckNoServer = 0, kCheckDone = 1, kCheckBusy = 2 };

class TimeClient {
public:
    // Fills value with the server's four bytes, still in network byte order. Returns 1 when all four arrived,
    // 0 when the name did not resolve, the connection failed, the server closed or fell silent too early, or it named
    // a time before this build's day.
    int QueryTimeServer(const char *host, uint32_t *value) const;
    void TimeValueToUtc(uint32_t value, SYSTEMTIME *utc) const;
    // Writes the report into text (length bytes, at most 256) and returns kCheckDone, or leaves text alone and
    // returns kCheckNoServer when no server answered, kCheckBusy when the clock lock could not be had. names: the
    // servers to ask; null for the built-in ones. reading, when given, is filled either way (server 0 when none
    // answered).
    int CheckClock(char *text, int length, const TimeServerNames *names = nullptr,
                   ClockReading *reading = nullptr) const;
    // A SetClockFromServer result: kSetDone when a server answered and the platform accepted the machine's time
    // moved by the server's offset as the new system (UTC) time; kSetTooFar, with nothing set, when the offset is
    // over an hour and no second address agreed with it. reading as for CheckClock.
    int SetClockFromServer(const TimeServerNames *names = nullptr, ClockReading *reading = nullptr) const;
};

extern const TimeClient g_timeClient;

CivilTime ToCivilTime(const SYSTEMTIME &time);
