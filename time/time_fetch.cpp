// Asks the time servers how far the machine's clock is off: the SNTP round and, beside it, the Time Protocol walk.
#include "time/time_fetch.h"

#include <string.h>

#include "net/udp_exchange.h"
#include "time/address_memory.h"
#include "time/calendar.h"
#include "time/sntp.h"
#include "time/web_fetch.h"

namespace {

const unsigned short kTimeProtocolPort = 37;
const unsigned short kSntpPort = 123;
const int kTimeValueSize = 4;
// A server's address that has not connected in this long gets company from its next address.
const DWORD kNextAddressMs = 1000;
const DWORD kNever = ~0u;

static_assert(kMaxDatagramPeers >= 3, "one SNTP round asks every server");

typedef void(WINAPI *PreciseTimeFunction)(FILETIME *);

// Windows 8 and later read the clock to a fraction of a microsecond; Windows 7 only to its tick. Looked up as the
// program starts, before any worker reads it.
const PreciseTimeFunction g_preciseTime = reinterpret_cast<PreciseTimeFunction>(
    reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));

DWORD Earlier(DWORD a, DWORD b) {
    return a < b ? a : b;
}

// The port-37 walk: one server at a time, each within its bound. A server's addresses are tried one after another,
// the next when the last has failed or has not connected within kNextAddressMs, and the first to connect is the one
// read. The round trip is the time that connection took to open (a server may wait before it sends, and that wait
// is no travel).
class TimeProtocolWalk {
public:
    TimeProtocolWalk(const HostAddresses *servers, int count, const MeasureClock &clock)
        : servers_(servers), count_(count), clock_(clock) {}

    // Starts on the next server; false when it has no address that could be asked.
    bool AskNext(DWORD now) {
        Close();
        ++server_;
        nextAddress_ = 0;
        deadline_ = now + kServerAttemptMs;
        return StartAttempt(now);
    }
    // The server being asked.
    int Asked() const { return server_; }
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
    ClockOffset Offset() const {
        return CentreWholeSecond(TimeValueToFileTime(ntohl(Value())), arrivedAt_, roundTrip_);
    }

private:
    void Close() {
        for (OwnedSocket &attempt : attempts_)
            attempt.Close();
        connected_ = -1;
        received_ = 0;
    }

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
            // Its SNTP may have answered with a kiss-o'-death since the operation began.
            if (!ClaimQuery(address))
                continue;
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

// One SNTP round: what each request carried, and the usable answers so far.
struct SntpRound {
    const MeasureClock *clock;
    bool open;
    // When the wait that found the answers being taken ended: their arrival.
    int64_t wokeAt;
    int64_t sentAt[kMaxDatagramPeers];
    uint64_t transmit[kMaxDatagramPeers];
    SntpSample samples[kMaxDatagramPeers];
    int sampleCount;
    DWORD firstAnswerAt;

    // The round waits for every server asked, but only a short while after its first usable answer.
    DWORD Due() const { return sampleCount > 0 ? Earlier(kSntpWaitMs, firstAnswerAt + kSntpGatherMs) : kSntpWaitMs; }
};

int FormatRequest(void *context, int peer, const SocketAddress &address, char *packet) {
    if (!ClaimQuery(address))
        return 0;
    SntpRound &round = *static_cast<SntpRound *>(context);
    round.sentAt[peer] = round.clock->Counter();
    // The low bits lie below the clock's resolution: the counter's make the time stamp harder to guess.
    round.transmit[peer] = FileTimeToNtpTimestamp(round.clock->MachineTimeAt(round.sentAt[peer])) ^
                           static_cast<uint64_t>(round.sentAt[peer] & 0xFF);
    FormatSntpRequest(round.transmit[peer], reinterpret_cast<unsigned char *>(packet));
    return kSntpPacketSize;
}

int TakeAnswer(void *context, int peer, const SocketAddress &address, const char *packet, int length) {
    SntpRound &round = *static_cast<SntpRound *>(context);
    SntpAnswer answer;
    const int verdict = ParseSntpAnswer(reinterpret_cast<const unsigned char *>(packet), static_cast<size_t>(length),
                                        round.transmit[peer], &answer);
    if (verdict == kSntpDenied || verdict == kSntpRate)
        RememberAddress(address, verdict);
    if (verdict != kSntpTime)
        return verdict == kSntpNoAnswer ? 0 : 1;
    SntpSample &sample = round.samples[round.sampleCount];
    if (MakeSntpSample(round.clock->MachineTimeAt(round.sentAt[peer]), answer, round.clock->MachineTimeAt(round.wokeAt),
                       peer, &sample)) {
        if (round.sampleCount++ == 0)
            round.firstAnswerAt = round.clock->MillisecondsAt(round.wokeAt);
    }
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

int FetchClockOffset(const HostAddresses *servers, int count, bool sntp, const MeasureClock &clock, TimeAnswer *answer,
                     const HostAddresses *web, const char *const *webNames) {
    const SocketLibrary library;
    if (!library.Started())
        return 0;
    SntpRound round = {};
    round.clock = &clock;
    DatagramRound datagrams(FormatRequest, TakeAnswer, &round);
    if (sntp) {
        datagrams.Send(servers, count, kSntpPort, clock.MillisecondsNow());
        round.open = true;
    }
    TimeProtocolWalk walk(servers, count, clock);
    bool walking = false;
    bool walkAnswered = false;
    WebTimeWalk webWalk(web, webNames, web != nullptr ? count : 0, clock);
    bool webAsking = webWalk.AskNext(clock.MillisecondsNow());
    bool webAnswered = false;
    for (;;) {
        DWORD now = clock.MillisecondsNow();
        // Checked before every wait, so that datagrams that keep coming cannot hold the round open.
        if (round.open && (datagrams.Awaited() == 0 || now >= round.Due())) {
            round.open = false;
            if (round.sampleCount > 0) {
                const SntpSample &picked = PickSntpSample(round.samples, round.sampleCount);
                *answer =
                    TimeAnswer{ClockOffset{IntervalsToMilliseconds(picked.offset), 0}, 0, picked.peer, kProtocolSntp};
                return 1;
            }
        }
        // Port 37 asks a server only once its SNTP has failed, or when no SNTP answer has come in kSntpFirstMs.
        while (!walking && !walkAnswered && walk.Asked() + 1 < count && round.sampleCount == 0 &&
               (!round.open || now >= kSntpFirstMs || !datagrams.Awaits(walk.Asked() + 1)))
            walking = walk.AskNext(now);
        if ((walkAnswered || webAnswered) && (!round.open || (now >= kSntpFirstMs && round.sampleCount == 0))) {
            *answer = walkAnswered ? TimeAnswer{walk.Offset(), walk.Value(), walk.Asked(), kProtocolTime}
                                   : TimeAnswer{webWalk.Offset(), 0, webWalk.Asked(), kProtocolHttp};
            return 1;
        }
        if (!walking && !walkAnswered && !round.open && !webAsking && !webAnswered)
            return 0;
        SocketWait wait;
        DWORD wakeAt = kNever;
        if (walking) {
            walk.Watch(wait);
            wakeAt = walk.Due();
        }
        if (webAsking) {
            webWalk.Watch(wait);
            wakeAt = Earlier(wakeAt, webWalk.Due());
        }
        if (round.open) {
            datagrams.Watch(wait);
            wakeAt = Earlier(Earlier(wakeAt, round.Due()), datagrams.NextGiveUp());
            if ((!walking || webAnswered) && now < kSntpFirstMs)
                wakeAt = Earlier(wakeAt, kSntpFirstMs);
        }
        wait.Wait(wakeAt > now ? wakeAt - now : 0);
        round.wokeAt = clock.Counter();
        now = clock.MillisecondsAt(round.wokeAt);
        if (walking) {
            const int progress = walk.Advance(wait, round.wokeAt, now);
            walkAnswered = progress > 0;
            walking = progress == 0;
        }
        if (webAsking) {
            const int progress = webWalk.Advance(wait, round.wokeAt, now);
            webAnswered = progress > 0;
            webAsking = progress == 0 || (progress < 0 && webWalk.AskNext(now));
        }
        if (round.open)
            datagrams.Take(wait, now);
    }
}
