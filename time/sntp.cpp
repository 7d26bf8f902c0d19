// The SNTP (RFC 4330) client's request, the checks an answer must pass, and the clock offset it gives.
#include "time/sntp.h"

#include <string.h>

#include "time/calendar.h"
#include "time/clock_offset.h"

namespace {

const uint64_t kFractionsPerSecond = 0x100000000ull;
const unsigned kVersion = 4;
const unsigned kModeClient = 3;
const unsigned kModeServer = 4;
const unsigned kLeapAlarm = 3;
const unsigned kLastStratum = 15;
const size_t kReferenceId = 12;
const size_t kOriginate = 24;
const size_t kReceive = 32;
const size_t kTransmit = 40;

uint64_t ReadTimestamp(const unsigned char *data) {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = value << 8 | data[i];
    return value;
}

// later - earlier, exact whenever both are below 2^63.
int64_t Difference(uint64_t later, uint64_t earlier) {
    return static_cast<int64_t>(later - earlier);
}

} // namespace

uint64_t FileTimeToNtpTimestamp(uint64_t fileTime) {
    // Seconds since 1900, wrapping into the 32-bit field as the count does.
    const uint64_t seconds = fileTime / kIntervalsPerSecond - kSecondsFrom1601To1900;
    const uint64_t fraction = fileTime % kIntervalsPerSecond * kFractionsPerSecond / kIntervalsPerSecond;
    return (seconds & 0xFFFFFFFFull) << 32 | fraction;
}

uint64_t NtpTimestampToFileTime(uint64_t timestamp) {
    const uint64_t fraction = (timestamp & 0xFFFFFFFFull) * kIntervalsPerSecond / kFractionsPerSecond;
    return TimeValueToFileTime(static_cast<uint32_t>(timestamp >> 32)) + fraction;
}

void FormatSntpRequest(uint64_t transmit, unsigned char *packet) {
    memset(packet, 0, kSntpPacketSize);
    packet[0] = static_cast<unsigned char>(kVersion << 3 | kModeClient);
    for (int i = 0; i < 8; ++i)
        packet[kTransmit + i] = static_cast<unsigned char>(transmit >> (56 - 8 * i));
}

int ParseSntpAnswer(const unsigned char *data, size_t size, uint64_t transmit, SntpAnswer *answer) {
    if (size < static_cast<size_t>(kSntpPacketSize))
        return kSntpNoAnswer;
    const unsigned leap = data[0] >> 6;
    const unsigned version = data[0] >> 3 & 7;
    const unsigned mode = data[0] & 7;
    const unsigned stratum = data[1];
    // An answer that does not echo our time stamp is a spoof or a stale packet, whatever it says.
    if (mode != kModeServer || version < 1 || version > kVersion || ReadTimestamp(data + kOriginate) != transmit)
        return kSntpNoAnswer;
    if (stratum == 0) {
        const char *code = reinterpret_cast<const char *>(data + kReferenceId);
        if (memcmp(code, "RATE", 4) == 0)
            return kSntpRate;
        return memcmp(code, "DENY", 4) == 0 || memcmp(code, "RSTR", 4) == 0 ? kSntpDenied : kSntpUnusable;
    }
    const uint64_t receivedStamp = ReadTimestamp(data + kReceive);
    const uint64_t sentStamp = ReadTimestamp(data + kTransmit);
    if (stratum > kLastStratum || leap == kLeapAlarm || receivedStamp == 0 || sentStamp == 0)
        return kSntpUnusable;
    // A server that names a time before this build, or answered before it received, has a broken clock.
    const uint64_t received = NtpTimestampToFileTime(receivedStamp);
    const uint64_t transmitted = NtpTimestampToFileTime(sentStamp);
    if (received < kEarliestServerTime || transmitted < received)
        return kSntpUnusable;
    answer->received = received;
    answer->transmitted = transmitted;
    return kSntpTime;
}

int64_t SntpClockOffset(uint64_t t1, uint64_t t2, uint64_t t3, uint64_t t4) {
    const int64_t outbound = Difference(t2, t1);
    const int64_t inbound = Difference(t3, t4);
    // Halved before adding, so the sum cannot overflow; the halves' remainders are added back.
    return outbound / 2 + inbound / 2 + (outbound % 2 + inbound % 2) / 2;
}

int64_t SntpRoundTripDelay(uint64_t t1, uint64_t t2, uint64_t t3, uint64_t t4) {
    return Difference(t4, t1) - Difference(t3, t2);
}

bool MakeSntpSample(uint64_t t1, const SntpAnswer &answer, uint64_t t4, TimeSample *sample) {
    const int64_t delay = SntpRoundTripDelay(t1, answer.received, answer.transmitted, t4);
    if (delay < -kMostNegativeDelayMs * kIntervalsPerMillisecond)
        return false;
    sample->offset = SntpClockOffset(t1, answer.received, answer.transmitted, t4);
    sample->delay = delay;
    return true;
}
