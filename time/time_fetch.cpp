// Asks the time servers how far the machine's clock is off: the SNTP round and, beside it, the Time Protocol walk.
#include "time/time_fetch.h"

#include <string.h>

#include "net/udp_exchange.h"
#include "time/calendar.h"
#include "time/sample_choice.h"
#include "time/sntp.h"

namespace {

const unsigned short kTimeProtocolPort = 37;
const unsigned short kSntpPort = 123;
const int kTimeValueSize = 4;
// A server's address that has not connected in this long gets company from its next address.
const DWORD kNextAddressMs = 1000;
const DWORD kNever = ~0u;
const int kMostServers = 3;

static_assert(kMaxDatagramPeers >= 3 * kAddressesPerServer, "one SNTP round asks every server's first addresses");

typedef void(WINAPI *PreciseTimeFunction)(FILETIME *);

// Windows 8 and later read the clock to a fraction of a microsecond; Windows 7 only to its tick. Looked up as the
// program starts, before any worker reads it.
const PreciseTimeFunction g_preciseTime = reinterpret_cast<PreciseTimeFunction>(
    reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));

DWORD Earlier(DWORD a, DWORD b) {
    return a < b ? a : b;
}

// Servers that sent a kiss-o'-death DENY or RSTR are not asked by SNTP again while the program runs. Shared by every
// worker; a slot is claimed once, atomically, and never cleared. An address is kept as a hash of itself (never 0,
// the empty slot's value).
volatile LONG g_deniedAddresses[8];

LONG Fingerprint(const SocketAddress &address) {
    const bool v6 = address.any.sa_family == AF_INET6;
    const unsigned char *bytes = v6 ? reinterpret_cast<const unsigned char *>(&address.v6.sin6_addr)
                                    : reinterpret_cast<const unsigned char *>(&address.v4.sin_addr);
    // The port too, which is the protocol's in use but tells the test servers on one address apart.
    uint32_t hash = 2166136261u ^ address.any.sa_family ^ static_cast<uint32_t>(address.v4.sin_port) << 16;
    for (size_t i = 0; i < (v6 ? sizeof address.v6.sin6_addr : sizeof address.v4.sin_addr); ++i)
        hash = (hash ^ bytes[i]) * 16777619u;
    return static_cast<LONG>(hash | 1);
}

bool IsDenied(const SocketAddress &address) {
    const LONG fingerprint = Fingerprint(address);
    for (const volatile LONG &slot : g_deniedAddresses)
        if (slot == fingerprint)
            return true;
    return false;
}

void Deny(const SocketAddress &address) {
    const LONG fingerprint = Fingerprint(address);
    for (volatile LONG &slot : g_deniedAddresses) {
        const LONG held = InterlockedCompareExchange(&slot, fingerprint, 0);
        if (held == 0 || held == fingerprint)
            return;
    }
}

// The port-37 walk: one server at a time, each within its bound. A server's addresses are tried one after another,
// the next when the last has failed or has not connected within kNextAddressMs, and the first to connect is the one
// read. The round trip is the time that connection took to open (a server may wait before it sends, and that wait
// is no travel).
class TimeProtocolWalk {
public:
    TimeProtocolWalk(const HostAddresses *servers, int count, const MeasureClock &clock)
        : servers_(servers), count_(count), clock_(clock) {}

    // Starts on the next server that has an address; false when none is left.
    bool AskNext(DWORD now) {
        Close();
        while (++server_ < count_) {
            nextAddress_ = 0;
            deadline_ = now + kServerAttemptMs;
            if (StartAttempt(now))
                return true;
        }
        return false;
    }
    // When the walk must act even if no socket does: the server's deadline, or its next address's turn.
    DWORD Due() const {
        if (connected_ < 0 && nextAddress_ < servers_[server_].count)
            return Earlier(deadline_, lastStartedAt_ + kNextAddressMs);
        return deadline_;
    }

    void Watch(SocketWait &wait) {
        if (connected_ >= 0) {
            wait.Watch(wait.readable, attempts_[connected_].Get());
            return;
        }
        for (OwnedSocket &attempt : attempts_)
            if (attempt.IsOpen())
                wait.Watch(wait.writable, attempt.Get());
    }

    // Takes what the wait found, which ended at `wokeAt`: 1 when the whole answer has arrived, -1 when this server has
    // failed, run out of time or named a time no working clock names, 0 to go on waiting.
    int Advance(SocketWait &wait, int64_t wokeAt, DWORD now) {
        if (connected_ < 0)
            TakeConnections(wait, wokeAt, now);
        else if (FD_ISSET(attempts_[connected_].Get(), &wait.failed) ||
                 FD_ISSET(attempts_[connected_].Get(), &wait.readable)) {
            // A server that sends and closes at once may show as failed with its answer still to be read.
            const bool failed = FD_ISSET(attempts_[connected_].Get(), &wait.failed) != 0;
            const int count = recv(attempts_[connected_].Get(), value_ + received_, kTimeValueSize - received_, 0);
            if (count == 0 || (count < 0 && (failed || WSAGetLastError() != WSAEWOULDBLOCK)))
                return -1;
            received_ += count > 0 ? count : 0;
            if (received_ == kTimeValueSize) {
                arrivedAt_ = clock_.MachineTimeAt(wokeAt);
                return IsUsableTimeValue(ntohl(Value())) ? 1 : -1;
            }
        }
        if (connected_ < 0 && !Pending())
            return -1;
        return now >= deadline_ ? -1 : 0;
    }

    // The four bytes as sent, in network byte order.
    uint32_t Value() const {
        uint32_t value;
        memcpy(&value, value_, sizeof value);
        return value;
    }
    // The answer as an interval of its blur either way.
    TimeSample Sample() const {
        const ClockOffset offset = CentreWholeSecond(TimeValueToFileTime(ntohl(Value())), arrivedAt_, roundTrip_);
        return TimeSample{offset.milliseconds * kIntervalsPerMillisecond, offset.blurMs * 2 * kIntervalsPerMillisecond,
                          server_, static_cast<uint32_t>(Fingerprint(servers_[server_].address[connected_]))};
    }

    void Close() {
        for (OwnedSocket &attempt : attempts_)
            attempt.Close();
        connected_ = -1;
        received_ = 0;
    }

private:
    bool Pending() const {
        for (const OwnedSocket &attempt : attempts_)
            if (attempt.IsOpen())
                return true;
        return false;
    }

    // Starts connecting to the server's next address; false when none is left that could be started.
    bool StartAttempt(DWORD now) {
        const HostAddresses &server = servers_[server_];
        while (nextAddress_ < server.count) {
            const int attempt = nextAddress_++;
            SocketAddress address = server.address[attempt];
            SetPort(address, kTimeProtocolPort);
            startedAt_[attempt] = clock_.Counter();
            lastStartedAt_ = now;
            if (StartConnecting(attempts_[attempt], address))
                return true;
            attempts_[attempt].Close();
        }
        return false;
    }

    // The first attempt to connect wins and the others are dropped; a failed one makes way for the next address.
    void TakeConnections(SocketWait &wait, int64_t wokeAt, DWORD now) {
        for (int attempt = 0; attempt < kMaxHostAddresses && connected_ < 0; ++attempt) {
            const SOCKET socket = attempts_[attempt].Get();
            if (!attempts_[attempt].IsOpen())
                continue;
            if (FD_ISSET(socket, &wait.writable) && ConnectionOpened(socket)) {
                connected_ = attempt;
                roundTrip_ = clock_.Between(startedAt_[attempt], wokeAt);
            } else if (FD_ISSET(socket, &wait.writable) || FD_ISSET(socket, &wait.failed)) {
                attempts_[attempt].Close();
            }
        }
        if (connected_ >= 0) {
            for (int attempt = 0; attempt < kMaxHostAddresses; ++attempt)
                if (attempt != connected_)
                    attempts_[attempt].Close();
        } else if (!Pending() || now - lastStartedAt_ >= kNextAddressMs) {
            StartAttempt(now);
        }
    }

    const HostAddresses *servers_;
    int count_;
    const MeasureClock &clock_;
    int server_ = -1;
    int nextAddress_ = 0;
    OwnedSocket attempts_[kMaxHostAddresses];
    int64_t startedAt_[kMaxHostAddresses] = {};
    DWORD lastStartedAt_ = 0;
    int connected_ = -1;
    char value_[kTimeValueSize] = {};
    int received_ = 0;
    DWORD deadline_ = 0;
    uint64_t roundTrip_ = 0;
    uint64_t arrivedAt_ = 0;
};

// A measurement's SNTP rounds: the addresses asked, what each request carried, and the usable samples so far.
struct SntpRounds {
    const MeasureClock *clock;
    SocketAddress targets[kMaxDatagramPeers];
    int serverOf[kMaxDatagramPeers];
    int targetCount;
    int rounds;
    int sent;
    bool open;
    DWORD sentAt;
    // When the wait that found the answers being taken ended: their arrival.
    int64_t wokeAt;
    int64_t sentCounter[kMaxDatagramPeers];
    uint64_t transmit[kMaxDatagramPeers];
    TimeSample samples[kMaxDatagramPeers * kSetRounds];
    int sampleCount;
    int roundFirstSample;
    DWORD firstAnswerAt;

    // Counted from the round's last request, so that a slow first socket cannot bring the next round nearer.
    void Send(DatagramRound &datagrams) {
        ++sent;
        open = true;
        roundFirstSample = sampleCount;
        datagrams.Send(targets, targetCount, kSntpPort);
        sentAt = clock->MillisecondsNow();
    }
    // A round waits for every address asked, but only a short while after its first usable answer.
    DWORD Due() const {
        const DWORD bound = sentAt + (sent == 1 ? kSntpWaitMs : kLaterRoundWaitMs);
        return sampleCount > roundFirstSample ? Earlier(bound, firstAnswerAt + kSntpGatherMs) : bound;
    }
    // Another round follows only one that gave samples, and no sooner than the spacing allows.
    bool MoreToSend() const { return !open && sent < rounds && sampleCount > 0; }
    DWORD NextAt() const { return sentAt + kSampleSpacingMs; }
};

int FormatRequest(void *context, int peer, const SocketAddress &address, char *packet) {
    if (IsDenied(address))
        return 0;
    SntpRounds &round = *static_cast<SntpRounds *>(context);
    round.sentCounter[peer] = round.clock->Counter();
    // The low bits lie below the clock's resolution: the counter's make the time stamp harder to guess.
    round.transmit[peer] = FileTimeToNtpTimestamp(round.clock->MachineTimeAt(round.sentCounter[peer])) ^
                           static_cast<uint64_t>(round.sentCounter[peer] & 0xFF);
    FormatSntpRequest(round.transmit[peer], reinterpret_cast<unsigned char *>(packet));
    return kSntpPacketSize;
}

int TakeAnswer(void *context, int peer, const SocketAddress &address, const char *packet, int length) {
    SntpRounds &round = *static_cast<SntpRounds *>(context);
    SntpAnswer answer;
    const int verdict = ParseSntpAnswer(reinterpret_cast<const unsigned char *>(packet), static_cast<size_t>(length),
                                        round.transmit[peer], &answer);
    if (verdict == kSntpDenied)
        Deny(address);
    if (verdict != kSntpTime)
        return verdict == kSntpNoAnswer ? 0 : 1;
    TimeSample &sample = round.samples[round.sampleCount];
    if (MakeSntpSample(round.clock->MachineTimeAt(round.sentCounter[peer]), answer,
                       round.clock->MachineTimeAt(round.wokeAt), &sample)) {
        sample.server = round.serverOf[peer];
        sample.source = static_cast<uint32_t>(Fingerprint(address));
        if (round.sampleCount++ == round.roundFirstSample)
            round.firstAnswerAt = round.clock->MillisecondsAt(round.wokeAt);
    }
    return 1;
}

int Choose(const TimeSample *samples, int count, const uint32_t *values, TimeAnswer *answer) {
    const int chosen = ChooseSample(samples, count);
    const TimeSample &sample = samples[chosen];
    const TimeProtocol protocol = values != nullptr ? kProtocolTime : kProtocolSntp;
    const int64_t blurMs = values != nullptr ? sample.delay / 2 / kIntervalsPerMillisecond : 0;
    *answer =
        TimeAnswer{ClockOffset{IntervalsToMilliseconds(sample.offset), blurMs}, values != nullptr ? values[chosen] : 0,
                   sample.server, protocol, StepAgreed(samples, count, chosen)};
    return 1;
}

} // namespace

void MeasureClock::Start() {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    frequency_ = value.QuadPart;
    FILETIME now;
    if (g_preciseTime != nullptr)
        g_preciseTime(&now);
    else
        GetSystemTimeAsFileTime(&now);
    startCounter_ = Counter();
    startTime_ = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

int64_t MeasureClock::Counter() const {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

uint64_t MeasureClock::Between(int64_t from, int64_t to) const {
    const uint64_t ticks = to > from ? static_cast<uint64_t>(to - from) : 0;
    const uint64_t frequency = static_cast<uint64_t>(frequency_);
    // In two parts, so that a counter of any frequency cannot overflow.
    return ticks / frequency * kIntervalsPerSecond + ticks % frequency * kIntervalsPerSecond / frequency;
}

int FetchClockOffset(const HostAddresses *servers, int count, int sntpRounds, const MeasureClock &clock,
                     TimeAnswer *answer) {
    const SocketLibrary library;
    if (!library.Started())
        return 0;
    SntpRounds sntp = {};
    sntp.clock = &clock;
    sntp.rounds = sntpRounds;
    for (int server = 0; server < count; ++server)
        for (int i = 0; i < servers[server].count && i < kAddressesPerServer; ++i) {
            sntp.serverOf[sntp.targetCount] = server;
            sntp.targets[sntp.targetCount++] = servers[server].address[i];
        }
    DatagramRound datagrams(FormatRequest, TakeAnswer, &sntp);
    if (sntpRounds > 0)
        sntp.Send(datagrams);
    TimeProtocolWalk walk(servers, count, clock);
    TimeSample walked[kMostServers];
    uint32_t values[kMostServers];
    int walkedCount = 0;
    bool walking = walk.AskNext(clock.MillisecondsNow());
    bool walkDone = false;
    for (;;) {
        DWORD now = clock.MillisecondsNow();
        // Checked before every wait, so that datagrams that keep coming cannot hold a round open.
        if (sntp.open && (datagrams.Awaited() == 0 || now >= sntp.Due())) {
            sntp.open = false;
            if (sntp.sampleCount > 0 && sntp.sent == sntp.rounds)
                return Choose(sntp.samples, sntp.sampleCount, nullptr, answer);
            // SNTP answers: port 37's whole seconds are no longer needed.
            if (sntp.sampleCount > 0) {
                walk.Close();
                walking = false;
            }
        }
        if (sntp.MoreToSend() && now >= sntp.NextAt())
            sntp.Send(datagrams);
        if (walkDone && sntp.sampleCount == 0 && (!sntp.open || now >= kSntpFirstMs))
            return Choose(walked, walkedCount, values, answer);
        if (!walking && !walkDone && !sntp.open && sntp.sampleCount == 0)
            return 0;
        SocketWait wait;
        DWORD wakeAt = kNever;
        if (walking) {
            walk.Watch(wait);
            wakeAt = walk.Due();
        }
        if (sntp.open) {
            datagrams.Watch(wait);
            wakeAt = Earlier(wakeAt, sntp.Due());
            if (walkDone)
                wakeAt = Earlier(wakeAt, kSntpFirstMs);
        } else if (sntp.MoreToSend()) {
            wakeAt = Earlier(wakeAt, sntp.NextAt());
        }
        wait.Wait(wakeAt > now ? wakeAt - now : 0);
        sntp.wokeAt = clock.Counter();
        now = clock.MillisecondsAt(sntp.wokeAt);
        if (walking) {
            const int progress = walk.Advance(wait, sntp.wokeAt, now);
            if (progress > 0) {
                values[walkedCount] = walk.Value();
                walked[walkedCount++] = walk.Sample();
                // A set's answer over an hour off needs another server's agreement.
                walking = sntpRounds > 1 && !StepAgreed(walked, walkedCount, walkedCount - 1) && walk.AskNext(now);
                walkDone = !walking;
            } else if (progress < 0) {
                walking = walk.AskNext(now);
                walkDone = !walking && walkedCount > 0;
            }
        }
        if (sntp.open)
            datagrams.Take(wait);
    }
}
