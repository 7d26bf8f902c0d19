// How far a server's clock is from the machine's, and the arithmetic each protocol's answer needs to give it.
#include "time/clock_offset.h"

#include "time/calendar.h"
#include "version.h"

namespace {

const int64_t kHalfSecondMs = 500;
const int64_t kMillisecondsPerSecond = 1000;
const uint64_t kSecondsFrom1601To1970 = 11644473600ull;

} // namespace

const uint64_t kEarliestServerTime = (TEMPVARO_BUILD_DAY + kSecondsFrom1601To1970) * kIntervalsPerSecond;

bool IsUsableTimeValue(uint32_t secondsSince1900) {
    return secondsSince1900 != 0 && TimeValueToFileTime(secondsSince1900) >= kEarliestServerTime;
}

int64_t IntervalsToMilliseconds(int64_t intervals) {
    const int64_t half = intervals < 0 ? -kIntervalsPerMillisecond / 2 : kIntervalsPerMillisecond / 2;
    return (intervals + half) / kIntervalsPerMillisecond;
}

ClockOffset CentreWholeSecond(uint64_t serverSecond, uint64_t arrivedAt, uint64_t roundTrip) {
    const int64_t halfTripMs = IntervalsToMilliseconds(static_cast<int64_t>(roundTrip / 2));
    const int64_t sentMs = IntervalsToMilliseconds(static_cast<int64_t>(serverSecond - arrivedAt));
    return ClockOffset{sentMs + kHalfSecondMs + halfTripMs, kHalfSecondMs + halfTripMs};
}

int64_t ReportedSeconds(const ClockOffset &offset) {
    if (offset.milliseconds <= offset.blurMs && offset.milliseconds >= -offset.blurMs)
        return 0;
    // The ceiling of (offset - half a second) in whole seconds.
    const int64_t shifted = offset.milliseconds - kHalfSecondMs;
    return shifted >= 0 ? (shifted + kMillisecondsPerSecond - 1) / kMillisecondsPerSecond
                        : -(-shifted / kMillisecondsPerSecond);
}
