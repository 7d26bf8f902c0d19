// Asks the time servers how far the machine's clock is off: the Time Protocol walk and, beside it, the SNTP round.
#include "time/time_fetch.h"

#include <string.h>

#include "net/socket_support.h"
#include "net/udp_exchange.h"
#include "time/calendar.h"
#include "time/sntp.h"

namespace {

const unsigned short kTimeProtocolPort = 37;
const unsigned short kSntpPort = 123;
const int kTimeValueSize = 4;
// The walk has this long to answer before the SNTP round starts beside it.
const DWORD kSntpAfterMs = 1000;
// After the round's first usable answer, this long for the others, so that they can outvote it.
const DWORD kSntpGatherMs = 250;
const DWORD kNever = ~0u;

static_assert(kMaxDatagramPeers >= 3, "one SNTP round asks every server");

typedef void(WINAPI *PreciseTimeFunction)(FILETIME *);

// Windows 8 and later read the clock to a fraction of a microsecond; Windows 7 only to its tick. Looked up as the
// program starts, before any worker reads it.
const PreciseTimeFunction g_preciseTime = reinterpret_cast<PreciseTimeFunction>(
    reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));

// Servers that sent a kiss-o'-death DENY or RSTR are not asked by SNTP again while the program runs. Shared by every
// worker; a slot is claimed once, atomically, and never cleared.
volatile LONG g_deniedAddresses[8];

bool IsDenied(uint32_t address) {
    for (const volatile LONG &slot : g_deniedAddresses)
        if (static_cast<uint32_t>(slot) == address)
            return true;
    return false;
}

void Deny(uint32_t address) {
    for (volatile LONG &slot : g_deniedAddresses) {
        const LONG held = InterlockedCompareExchange(&slot, static_cast<LONG>(address), 0);
        if (held == 0 || static_cast<uint32_t>(held) == address)
            return;
    }
}

// The port-37 walk: one server at a time, each within its bound, its round trip taken as the time the connection
// took to open (a server may wait before it sends, and that wait is no travel).
class TimeProtocolWalk {
public:
    // `began`: the operation's start, a GetTickCount value that the walk's times count from.
    TimeProtocolWalk(const char *const *hosts, int count, DWORD began) : hosts_(hosts), count_(count), began_(began) {}

    // Starts on the next server whose name resolves; false when none is left.
    bool AskNext() {
        socket_.Close();
        while (next_ < count_) {
            sockaddr_in address;
            if (!ResolveIPv4(hosts_[next_++], kTimeProtocolPort, &address))
                continue;
            connected_ = false;
            received_ = 0;
            deadline_ = GetTickCount() - began_ + kServerAttemptMs;
            connectStarted_ = MachineTimeNow();
            if (StartConnecting(socket_, address))
                return true;
        }
        return false;
    }
    DWORD Deadline() const { return deadline_; }
    // The host being asked.
    int Asked() const { return next_ - 1; }

    void Watch(SocketWait &wait) { wait.Watch(connected_ ? wait.readable : wait.writable, socket_.Get()); }

    // Takes what the wait found: 1 when the whole answer has arrived, -1 when this server has failed, run out of time
    // or named a time before this build's day, 0 to go on waiting.
    int Advance(SocketWait &wait, DWORD now) {
        const SOCKET socket = socket_.Get();
        const bool failed = FD_ISSET(socket, &wait.failed) != 0;
        if (!connected_ && FD_ISSET(socket, &wait.writable)) {
            if (!ConnectionOpened(socket))
                return -1;
            connected_ = true;
            roundTrip_ = MachineTimeNow() - connectStarted_;
        } else if (!connected_ && failed) {
            return -1;
        } else if (connected_ && (failed || FD_ISSET(socket, &wait.readable))) {
            // A server that sends and closes at once may show as failed with its answer still to be read.
            const int count = recv(socket, value_ + received_, kTimeValueSize - received_, 0);
            if (count == 0 || (count < 0 && (failed || WSAGetLastError() != WSAEWOULDBLOCK)))
                return -1;
            received_ += count > 0 ? count : 0;
            if (received_ == kTimeValueSize) {
                arrivedAt_ = MachineTimeNow();
                return ServerTime() >= kEarliestServerTime ? 1 : -1;
            }
        }
        return now >= deadline_ ? -1 : 0;
    }

    // The four bytes as sent, in network byte order.
    uint32_t Value() const {
        uint32_t value;
        memcpy(&value, value_, sizeof value);
        return value;
    }
    ClockOffset Offset() const { return CentreWholeSecond(ServerTime(), arrivedAt_, roundTrip_); }

private:
    uint64_t ServerTime() const { return TimeValueToFileTime(ntohl(Value())); }

    const char *const *hosts_;
    int count_;
    DWORD began_;
    int next_ = 0;
    OwnedSocket socket_;
    bool connected_ = false;
    char value_[kTimeValueSize] = {};
    int received_ = 0;
    DWORD deadline_ = 0;
    uint64_t connectStarted_ = 0;
    uint64_t roundTrip_ = 0;
    uint64_t arrivedAt_ = 0;
};

DWORD Earlier(DWORD a, DWORD b) {
    return a < b ? a : b;
}

// One SNTP round: what each request carried, and the usable answers so far.
struct SntpRound {
    enum State { kNotStarted, kOpen, kOver };
    State state;
    DWORD began; // the operation's start, a GetTickCount value; the times below are ms from it
    DWORD deadline;
    uint64_t sentAt[kMaxDatagramPeers];
    uint64_t transmit[kMaxDatagramPeers];
    SntpSample samples[kMaxDatagramPeers];
    int sampleCount;
    DWORD firstAnswerAt;

    // Milliseconds into the operation: it lasts seconds, so 32 bits never wrap within it.
    DWORD Now() const { return GetTickCount() - began; }
    // The round waits for every server asked, but only a short while after its first usable answer.
    DWORD Due() const { return sampleCount > 0 ? Earlier(deadline, firstAnswerAt + kSntpGatherMs) : deadline; }
};

int FormatRequest(void *context, int peer, uint32_t address, char *packet) {
    if (IsDenied(address))
        return 0;
    SntpRound &round = *static_cast<SntpRound *>(context);
    round.sentAt[peer] = MachineTimeNow();
    // The low bits lie below the clock's resolution: a counter's makes the time stamp harder to guess.
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    round.transmit[peer] = FileTimeToNtpTimestamp(round.sentAt[peer]) ^ static_cast<uint64_t>(counter.QuadPart & 0xFF);
    FormatSntpRequest(round.transmit[peer], reinterpret_cast<unsigned char *>(packet));
    return kSntpPacketSize;
}

int TakeAnswer(void *context, int peer, uint32_t address, const char *packet, int length) {
    const uint64_t arrivedAt = MachineTimeNow();
    SntpRound &round = *static_cast<SntpRound *>(context);
    SntpAnswer answer;
    const int verdict = ParseSntpAnswer(reinterpret_cast<const unsigned char *>(packet), static_cast<size_t>(length),
                                        round.transmit[peer], &answer);
    if (verdict == kSntpDenied)
        Deny(address);
    if (verdict != kSntpTime)
        return verdict == kSntpDenied ? 1 : 0;
    if (round.sampleCount == 0)
        round.firstAnswerAt = round.Now();
    round.samples[round.sampleCount++] =
        SntpSample{SntpClockOffset(round.sentAt[peer], answer.received, answer.transmitted, arrivedAt),
                   SntpRoundTripDelay(round.sentAt[peer], answer.received, answer.transmitted, arrivedAt), peer};
    return 1;
}

} // namespace

uint64_t MachineTimeNow() {
    FILETIME now;
    if (g_preciseTime != nullptr)
        g_preciseTime(&now);
    else
        GetSystemTimeAsFileTime(&now);
    return static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

int FetchClockOffset(const char *const *hosts, int count, bool sntp, TimeAnswer *answer) {
    const SocketLibrary library;
    if (!library.Started())
        return 0;
    SntpRound round = {};
    round.began = GetTickCount();
    round.state = sntp ? SntpRound::kNotStarted : SntpRound::kOver;
    TimeProtocolWalk walk(hosts, count, round.began);
    bool walking = walk.AskNext();
    DatagramRound datagrams;
    for (;;) {
        DWORD now = round.Now();
        // A walk that has ended without an answer does not wait for its second to pass.
        if (round.state == SntpRound::kNotStarted && (!walking || now >= kSntpAfterMs)) {
            datagrams.Send(hosts, count, kSntpPort, FormatRequest, &round);
            round.deadline = round.Now() + kSntpWaitMs;
            round.state = SntpRound::kOpen;
        }
        // Checked before every wait, so that datagrams that keep coming cannot hold the round open.
        if (round.state == SntpRound::kOpen && (datagrams.Awaited() == 0 || now >= round.Due())) {
            round.state = SntpRound::kOver;
            if (round.sampleCount > 0) {
                const SntpSample &picked = PickSntpSample(round.samples, round.sampleCount);
                answer->offset = ClockOffset{IntervalsToMilliseconds(picked.offset), 0};
                answer->host = picked.peer;
                answer->sntp = true;
                return 1;
            }
        }
        if (!walking && round.state == SntpRound::kOver)
            return 0;
        SocketWait wait;
        DWORD wakeAt = round.state == SntpRound::kNotStarted ? kSntpAfterMs : kNever;
        if (walking) {
            walk.Watch(wait);
            wakeAt = Earlier(wakeAt, walk.Deadline());
        }
        if (round.state == SntpRound::kOpen) {
            datagrams.Watch(wait);
            wakeAt = Earlier(wakeAt, round.Due());
        }
        wait.Wait(wakeAt > now ? wakeAt - now : 0);
        now = round.Now();
        if (walking) {
            const int progress = walk.Advance(wait, now);
            if (progress > 0) {
                answer->offset = walk.Offset();
                answer->value = walk.Value();
                answer->host = walk.Asked();
                answer->sntp = false;
                return 1;
            }
            if (progress < 0)
                walking = walk.AskNext();
        }
        if (round.state == SntpRound::kOpen)
            datagrams.Take(wait, TakeAnswer, &round);
    }
}
