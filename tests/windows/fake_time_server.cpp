// A Time Protocol server on a loopback address for the Windows tests, with the ways a real one can misbehave.
#include "fake_time_server.h"

namespace {

const uint64_t kIntervalsFrom1601To1900 = 94354848000000000ull;

} // namespace

uint32_t SecondsSince1900Now(unsigned *millisecondsIntoSecond) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t intervals = (static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime);
    const uint64_t since1900 = intervals - kIntervalsFrom1601To1900;
    if (millisecondsIntoSecond)
        *millisecondsIntoSecond = static_cast<unsigned>(since1900 / 10000 % 1000);
    return static_cast<uint32_t>(since1900 / 10000000ull);
}

uint32_t FakeTimeServer::CurrentValue() const {
    if (fixedValue_)
        return value_;
    unsigned ms = 0;
    SecondsSince1900Now(&ms);
    // The middle of a second, where the receiver centres a whole-second answer: a set then moves the clock by
    // little more than the trip, which this platform allows.
    Sleep((1500 - ms) % 1000);
    return static_cast<uint32_t>(SecondsSince1900Now() + offset_);
}

void FakeTimeServer::Serve(SOCKET client) {
    const uint32_t wire = htonl(CurrentValue());
    const char *bytes = reinterpret_cast<const char *>(&wire);
    switch (behaviour_) {
    case ServerBehaviour::Answer:
        send(client, bytes, 4, 0);
        break;
    case ServerBehaviour::SplitAnswer:
        for (int i = 0; i < 4; ++i) {
            send(client, bytes + i, 1, 0);
            Sleep(150);
        }
        break;
    case ServerBehaviour::ShortAnswer:
        send(client, bytes, 2, 0);
        break;
    case ServerBehaviour::Close:
        break;
    case ServerBehaviour::Silent:
        StayQuiet();
        break;
    }
}
