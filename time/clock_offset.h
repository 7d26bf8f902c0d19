// How far a server's clock is from the machine's, as one offset that the report, the set and the choice between
// servers all read, and the arithmetic each protocol's answer needs to give it. Plain C++, no platform calls.
#pragma once

#include <stdint.h>

struct ClockOffset {
    // The server's clock minus the machine's.
    int64_t milliseconds;
    // An offset no larger than this, either way, may be the protocol's own blur: the answer cannot tell it from none.
    int64_t blurMs;
};

// How an answer came.
enum TimeProtocol { kProtocolTime = 0, kProtocolSntp = 1, kProtocolHttp = 2 };

const int64_t kIntervalsPerMillisecond = 10000;

// The start of the day this build's sources were committed, as a file time. A server that names an earlier time is
// broken, whatever it says, and is taken as not answering.
extern const uint64_t kEarliestServerTime;

// A Time Protocol count (seconds since 1900, host byte order) that a working server can send: not zero, which a broken
// one sends and the era rule would read as 2036, and not before this build's day.
bool IsUsableTimeValue(uint32_t secondsSince1900);

// 100-nanosecond intervals to milliseconds, to the nearest (halves away from zero).
int64_t IntervalsToMilliseconds(int64_t intervals);

// A Time Protocol answer. The server sent `serverSecond` at some moment of that second; it arrived when the machine's
// clock read `arrivedAt`, over a connection that took `roundTrip` to open (all file-time units). Taken as sent in
// the middle of its second, half the round trip before it arrived.
ClockOffset CentreWholeSecond(uint64_t serverSecond, uint64_t arrivedAt, uint64_t roundTrip);

// The whole seconds the report shows: none within the blur, else the offset rounded to the nearest second, a half
// rounded down, so that an answer that arrives the instant its server sent it reads as the seconds' fields do.
int64_t ReportedSeconds(const ClockOffset &offset);
