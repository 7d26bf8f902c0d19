// The SNTP (RFC 4330) client's request, the checks an answer must pass before its time is used, and the clock
// offset it gives. Plain C++, no platform calls.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "time/sample_choice.h"

const int kSntpPacketSize = 48;

enum SntpVerdict {
    kSntpNoAnswer = 0, // not an answer to our request
    kSntpTime = 1,     // a usable time
    kSntpDenied = 2,   // the server told us to stop asking it (kiss-o'-death DENY or RSTR)
    kSntpUnusable = 3, // the server's answer to our request, but with no time we can use
    kSntpRate = 4,     // the server told us to ask it less often (kiss-o'-death RATE)
};

// The server's receive and transmit times of a usable answer, as 100-nanosecond intervals since 1601-01-01 UTC.
struct SntpAnswer {
    uint64_t received;
    uint64_t transmitted;
};

// An NTP time stamp (seconds since 1900 in the high half, the fraction in the low half) for a file time, and back;
// the seconds are read in the era the Time Protocol's count is read in.
uint64_t FileTimeToNtpTimestamp(uint64_t fileTime);
uint64_t NtpTimestampToFileTime(uint64_t timestamp);

// A client request (leap indicator 0, version 4, mode 3) carrying `transmit`, into kSntpPacketSize bytes.
void FormatSntpRequest(uint64_t transmit, unsigned char *packet);

// Checks a datagram from the server asked against the request that carried `transmit`; fills answer only when the
// verdict is kSntpTime. A receive or transmit time that is zero or before this build's day, or a transmit time before
// the receive time, is no usable time.
int ParseSntpAnswer(const unsigned char *data, size_t size, uint64_t transmit, SntpAnswer *answer);

// ((T2 - T1) + (T3 - T4)) / 2 in 100-nanosecond intervals: how far the server's clock is ahead of ours. T1 and T4
// are our clock when the request left and the answer arrived; every time is below 2^63.
int64_t SntpClockOffset(uint64_t t1, uint64_t t2, uint64_t t3, uint64_t t4);

int64_t SntpRoundTripDelay(uint64_t t1, uint64_t t2, uint64_t t3, uint64_t t4);

// Clocks that tick in coarse steps can make a true round trip come out a little below zero; more than this is a server
// whose times cannot be, and would win every choice by the shorter trip.
const int64_t kMostNegativeDelayMs = 10;

// The offset and round trip, (T4 - T1) - (T3 - T2), of an answer to a request sent at t1 and answered at t4, into
// sample; false when its round trip is impossibly short.
bool MakeSntpSample(uint64_t t1, const SntpAnswer &answer, uint64_t t4, TimeSample *sample);
