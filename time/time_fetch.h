// Asks the time servers how far the machine's clock is off: SNTP to all of them from the first moment, and the Time
// Protocol walk, one server after another, for those whose SNTP fails. One wait serves both.
#pragma once

#include <winsock2.h>
#include <stdint.h>

#include "net/host_lookup.h"
#include "net/socket_support.h"
#include "time/clock_offset.h"

// At most this long per server on port 37, connecting and reading together.
const DWORD kServerAttemptMs = 5000;
// At most this long for the SNTP round's answers.
const DWORD kSntpWaitMs = 5000;
// A port-37 answer that comes before this is held back while SNTP may still give a finer one.
const DWORD kSntpFirstMs = 1000;
// After the round's first usable answer, this long for the others, so that they can outvote it.
const DWORD kSntpGatherMs = 250;
// A set takes this many SNTP rounds, each this long after the one before, and waits this long at most for a later
// round's answers. No address is asked again within 4 s (NIST's rule for its servers); the spacing's margin is for a
// path's jitter, which can bring two requests nearer by the time they reach the server.
const int kSetRounds = 3;
const DWORD kSampleSpacingMs = 4100;
const DWORD kLaterRoundWaitMs = 400;
// A set's last round starts this long at most after its look-ups did: the clock is set 9 s after them at the latest.
const DWORD kSetLastRoundMs = 9000 - kLaterRoundWaitMs - 100;
// Each of a server's first addresses is a server of its own, asked beside the others.
const int kAddressesPerServer = 4;

// The machine's clock read once beside a monotonic counter. Every instant of a measurement is a counter reading whose
// machine time is derived from that pair, so that a clock stepped meanwhile can neither bend nor wrap a round trip.
class MeasureClock {
public:
    MeasureClock() { Start(); }
    // Reads the pair anew.
    void Start();
    int64_t Counter() const;
    // The machine's clock at a counter reading no earlier than the start, as a file time (UTC).
    uint64_t MachineTimeAt(int64_t counter) const { return startTime_ + Between(startCounter_, counter); }
    uint64_t MachineTimeNow() const { return MachineTimeAt(Counter()); }
    // Milliseconds from the start to a counter reading.
    DWORD MillisecondsAt(int64_t counter) const {
        return static_cast<DWORD>(Between(startCounter_, counter) / kIntervalsPerMillisecond);
    }
    DWORD MillisecondsNow() const { return MillisecondsAt(Counter()); }
    // File-time units from one reading to a later one.
    uint64_t Between(int64_t from, int64_t to) const;

private:
    int64_t frequency_;
    int64_t startCounter_;
    uint64_t startTime_;
};

struct TimeAnswer {
    ClockOffset offset;
    // The port-37 answer's four bytes, in network byte order, when the answer came from there.
    uint32_t value;
    // Which of the servers asked gave the answer, and whether by SNTP.
    int host;
    TimeProtocol protocol;
    // Whether the correction may be made: at most an hour, or another address agrees with it (StepAgreed).
    bool agreed;
};

// Asks `count` servers (at most three), at the addresses given, `sntpRounds` times (0, 1 or kSetRounds) all their
// addresses by SNTP at once, the first from the start, and on port 37 in that order each server whose SNTP has
// failed, or every server once no usable SNTP answer has come kSntpFirstMs after the start; an address barred by a
// kiss-o'-death is asked by neither. A set's port-37 walk goes on to the next server while its answers are over an
// hour off and agree with no other. The answer is the choice among the SNTP samples (ChooseSample), made when the last
// round ends; a port-37 answer is taken only when no usable SNTP answer has come kSntpFirstMs after the start, or every
// SNTP server has failed. 1 with the answer; 0 when neither protocol gave one. A server that names a time before this
// build's day, or zero, has not answered. Every instant is read from `clock`, started before the call. `web`, when
// given, holds the addresses of the slots that name web servers (named `webNames`), asked beside the rest with a
// port-37 answer's weight; those slots have none in `servers`.
int FetchClockOffset(const HostAddresses *servers, int count, int sntpRounds, const MeasureClock &clock,
                     TimeAnswer *answer, const HostAddresses *web = nullptr, const char *const *webNames = nullptr);
