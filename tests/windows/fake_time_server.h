// A Time Protocol server on a loopback address for the Windows tests, with the ways a real one can misbehave, and an
// SNTP server that answers at once, late, never, or with datagrams that answer nothing.
#pragma once

#include <stdint.h>

#include "loopback_server.h"

enum class ServerBehaviour {
    Answer,      // the four bytes at once, then close
    SplitAnswer, // the four bytes one at a time with pauses, then close
    ShortAnswer, // two bytes, then close
    Close,       // close at once
    Silent,      // accept and say nothing until the test ends
};

class FakeTimeServer : public LoopbackServer {
public:
    ~FakeTimeServer() override { Stop(); }
    bool Start(const char *address, ServerBehaviour behaviour, unsigned short port = 37) {
        behaviour_ = behaviour;
        return Listen(address, port);
    }
    // The count to send, in host byte order; by default, the current time.
    void SetValue(uint32_t secondsSince1900) {
        value_ = secondsSince1900;
        fixedValue_ = true;
    }
    // Send the current time shifted by this many seconds, early in a second so the receiver's clock agrees.
    void SetOffset(int64_t seconds) {
        offset_ = seconds;
        fixedValue_ = false;
    }

protected:
    void Serve(SOCKET client) override;

private:
    uint32_t CurrentValue() const;

    ServerBehaviour behaviour_ = ServerBehaviour::Answer;
    uint32_t value_ = 0;
    int64_t offset_ = 0;
    bool fixedValue_ = false;
};

// The address memory's clock while the tests run, unless a case puts its own: ten minutes pass between any two
// readings, so that no spacing or back-off carries from one query, or one case, to the next.
DWORD WINAPI FarApartClock();

// Seconds since 1900 now, and how far into the current second we are.
uint32_t SecondsSince1900Now(unsigned *millisecondsIntoSecond = nullptr);

enum class SntpBehaviour {
    Answer,  // the time shifted by the offset, held for the delay between receiving and sending
    Silent,  // take requests, say nothing
    Chatter, // datagrams that echo no request, every 20 ms until the test ends
    Rate,    // a kiss-o'-death RATE
};

// Wine binds a datagram socket on a loopback address to every address, and answers from 127.0.0.1, so each fake
// listens on 127.0.0.1 at a port of its own, and the servers asked name that address and port.
class FakeSntpServer {
public:
    ~FakeSntpServer() { Stop(); }
    bool Start(unsigned short port, SntpBehaviour behaviour, int64_t offsetMs = 0, DWORD delayMs = 0);
    void Stop();
    long Requests() const { return requests_; }
    // When request `index` (from 0, the first eight) arrived, in milliseconds of the performance counter.
    ULONGLONG RequestedAt(long index) const { return requestedAt_[index]; }

private:
    static DWORD WINAPI ServeLoop(LPVOID self);

    SOCKET socket_ = INVALID_SOCKET;
    HANDLE thread_ = nullptr;
    volatile bool stopping_ = false;
    volatile long requests_ = 0;
    ULONGLONG requestedAt_[8] = {};
    SntpBehaviour behaviour_ = SntpBehaviour::Answer;
    int64_t offsetMs_ = 0;
    DWORD delayMs_ = 0;
};
