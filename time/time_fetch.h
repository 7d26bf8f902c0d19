// Asks the time servers how far the machine's clock is off: the Time Protocol walk, one server after another, and
// beside it, once the walk has gone a second without an answer, one SNTP round to all of them. One wait serves both.
#pragma once

#include <winsock2.h>
#include <stdint.h>

#include "time/clock_offset.h"

// At most this long per server on port 37, connecting and reading together (name look-up aside).
const DWORD kServerAttemptMs = 5000;
// At most this long for the SNTP round's answers.
const DWORD kSntpWaitMs = 5000;

// The machine's clock as a file time (UTC), as finely as Windows can read it.
uint64_t MachineTimeNow();

struct TimeAnswer {
    ClockOffset offset;
    // The port-37 answer's four bytes, in network byte order, when the answer came from there.
    uint32_t value;
    // Which of the hosts asked gave the answer, and whether by SNTP.
    int host;
    bool sntp;
};

// Asks `count` servers (at most three) in the given order on port 37, and when `sntp`, all of them by SNTP beside
// that walk once it has gone a second without an answer, or has ended. 1 with the first usable result of either; 0
// when neither gave one. A server that names a time before this build's day has not answered.
int FetchClockOffset(const char *const *hosts, int count, bool sntp, TimeAnswer *answer);
