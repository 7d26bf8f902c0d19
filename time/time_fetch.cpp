// Asks the time servers how far the machine's clock is off: the SNTP round and, beside it, the Time Protocol walk.
#include "time/time_fetch.h"

#include <string.h>

#include "net/udp_exchange.h"
#include "time/address_memory.h"
#include "time/calendar.h"
#include "time/sample_choice.h"
#include "time/sntp.h"
#include "time/web_fetch.h"

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
    // The answer as an interval of its blur either way.
    TimeSample Sample() const {
        const ClockOffset offset = CentreWholeSecond(TimeValueToFileTime(ntohl(Value())), arrivedAt_, roundTrip_);
        return TimeSample{offset.milliseconds * kIntervalsPerMillisecond, offset.blurMs * 2 * kIntervalsPerMillisecond,
                          server_, AddressFingerprint(servers_[server_].address[connected_], true)};
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
    // Whether the server's SNTP may still answer: one of its addresses is still awaited.
    bool Awaits(const DatagramRound &datagrams, int server) const {
        for (int peer = 0; peer < targetCount; ++peer)
            if (serverOf[peer] == server && datagrams.Awaits(peer))
                return true;
        return false;
    }
    DWORD NextAt() const { return sentAt + kSampleSpacingMs; }
};

int FormatRequest(void *context, int peer, const SocketAddress &address, char *packet) {
    if (!ClaimQuery(address))
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
    if (verdict == kSntpDenied || verdict == kSntpRate)
        RememberAddress(address, verdict);
    if (verdict != kSntpTime)
        return verdict == kSntpNoAnswer ? 0 : 1;
    TimeSample &sample = round.samples[round.sampleCount];
    if (MakeSntpSample(round.clock->MachineTimeAt(round.sentCounter[peer]), answer,
                       round.clock->MachineTimeAt(round.wokeAt), &sample)) {
        sample.server = round.serverOf[peer];
        sample.source = AddressFingerprint(address, true);
        if (round.sampleCount++ == round.roundFirstSample)
            round.firstAnswerAt = round.clock->MillisecondsAt(round.wokeAt);
    }
    return 1;
}

// values: the port-37 answers' four bytes, or null for SNTP samples; a web server's sample is the one at webIndex.
int Choose(const TimeSample *samples, int count, const uint32_t *values, int webIndex, TimeAnswer *answer) {
    const int chosen = ChooseSample(samples, count);
    const TimeSample &sample = samples[chosen];
    const TimeProtocol protocol = values == nullptr    ? kProtocolSntp
                                  : chosen == webIndex ? kProtocolHttp
                                                       : kProtocolTime;
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
                     TimeAnswer *answer, const HostAddresses *web, const char *const *webNames) {
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
    // The port-37 answers, and a web server's beside them.
    TimeSample walked[kMostServers + 1];
    uint32_t values[kMostServers + 1];
    int walkedCount = 0;
    int webIndex = -1;
    bool walking = false;
    // Whether the walk may go on to another server: until its first answer, and in a set while its answers are over
    // an hour off and agree with no other.
    bool walkMore = true;
    WebTimeWalk webWalk(web, webNames, web != nullptr ? count : 0, clock);
    bool webAsking = webWalk.AskNext(clock.MillisecondsNow());
    for (;;) {
        DWORD now = clock.MillisecondsNow();
        // Checked before every wait, so that datagrams that keep coming cannot hold a round open.
        if (sntp.open && (datagrams.Awaited() == 0 || now >= sntp.Due())) {
            sntp.open = false;
            if (sntp.sampleCount > 0 && sntp.sent == sntp.rounds)
                return Choose(sntp.samples, sntp.sampleCount, nullptr, -1, answer);
            // SNTP answers: port 37's whole seconds are no longer needed.
            if (sntp.sampleCount > 0) {
                walk.Close();
                walking = false;
            }
        }
        if (sntp.MoreToSend() && now >= sntp.NextAt())
            sntp.Send(datagrams);
        // Port 37 asks a server only once its SNTP has failed, or when no SNTP answer has come in kSntpFirstMs.
        while (!walking && walkMore && walk.Asked() + 1 < count && sntp.sampleCount == 0 &&
               (!sntp.open || now >= kSntpFirstMs || !sntp.Awaits(datagrams, walk.Asked() + 1)))
            walking = walk.AskNext(now);
        const bool walkDone = !walking && (!walkMore || walk.Asked() + 1 >= count);
        if (walkedCount > 0 && walkDone && sntp.sampleCount == 0 && (!sntp.open || now >= kSntpFirstMs))
            return Choose(walked, walkedCount, values, webIndex, answer);
        if (walkDone && walkedCount == 0 && !sntp.open && !sntp.MoreToSend() && !webAsking)
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
        if (sntp.open) {
            datagrams.Watch(wait);
            wakeAt = Earlier(wakeAt, sntp.Due());
            if (!walking && now < kSntpFirstMs)
                wakeAt = Earlier(wakeAt, kSntpFirstMs);
        } else if (sntp.MoreToSend()) {
            wakeAt = Earlier(wakeAt, sntp.NextAt());
        }
        wait.Wait(wakeAt > now ? wakeAt - now : 0);
        sntp.wokeAt = clock.Counter();
        now = clock.MillisecondsAt(sntp.wokeAt);
        if (walking) {
            const int progress = walk.Advance(wait, sntp.wokeAt, now);
            walking = progress == 0;
            if (progress > 0) {
                values[walkedCount] = walk.Value();
                walked[walkedCount++] = walk.Sample();
            }
        }
        if (webAsking) {
            const int progress = webWalk.Advance(wait, sntp.wokeAt, now);
            webAsking = progress == 0 || (progress < 0 && webWalk.AskNext(now));
            if (progress > 0) {
                values[walkedCount] = 0;
                webIndex = walkedCount;
                walked[walkedCount++] = webWalk.Sample();
            }
        }
        // A set's answer over an hour off needs another server's agreement.
        if (walkedCount > 0)
            walkMore = sntpRounds > 1 && !StepAgreed(walked, walkedCount, walkedCount - 1);
        if (sntp.open)
            datagrams.Take(wait);
    }
}
