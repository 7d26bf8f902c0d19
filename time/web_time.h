// Time from a web server's Date header: reading the field, and finding the server's second boundary from answers
// timed across it. Plain C++, no platform calls; every instant is given by the caller.
#pragma once

#include <stdint.h>

#include "time/clock_offset.h"

// Reads the Date field of a complete response header (IMF-fixdate, or the obsolete rfc850 and asctime forms) as the
// file time of the whole second it names. False when there is none, it is in none of the forms, names no real day
// or time, or names a time before this build's day.
bool ReadHttpDate(const char *header, int length, uint64_t *second);

// The search for a web server's second boundary. Each answer, asked at `sentAt` and arrived at `arrivedAt` (machine
// file times) and naming the whole second `serverSecond`, bounds the server's offset: the server wrote that second at
// some moment of the round trip. The bounds of all the answers together are kept; the next request is timed so that
// the boundary would fall in the middle of its round trip at one of a few points across the uncertain span, those
// points tried from its top, so that the answers that come back still on the old second narrow it within one second.
class SecondSearch {
public:
    // The machine time, no earlier than `now`, at which to send the next request.
    uint64_t NextSendAt(uint64_t now) const;
    // Takes an answer; false when its bounds and the earlier ones' leave nothing (no one clock gave them).
    bool Take(uint64_t sentAt, uint64_t arrivedAt, uint64_t serverSecond);
    // True when further answers cannot narrow it much.
    bool Done() const;
    int Answers() const { return answers_; }
    // The middle of the bounds, blurred by half their span.
    ClockOffset Offset() const;

private:
    // The server's clock minus the machine's, in file-time units, is base_ (the first answer's floor) plus at least
    // low_ and less than high_; every bound that one clock gives lies within seconds of it.
    int64_t base_ = 0;
    uint64_t lastSecond_ = 0;
    int32_t low_ = 0;
    int32_t high_ = 0;
    // The distance below high_ of the next point tried, and the last round trip.
    int32_t step_ = 0;
    int32_t roundTrip_ = 0;
    int answers_ = 0;
};
