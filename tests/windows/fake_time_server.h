// A Time Protocol server on a loopback address for the Windows tests, with the ways a real one can misbehave.
#pragma once

#include <winsock2.h>
#include <stdint.h>

enum class ServerBehaviour {
    Answer,      // the four bytes at once, then close
    SplitAnswer, // the four bytes one at a time with pauses, then close
    ShortAnswer, // two bytes, then close
    Close,       // close at once
    Silent,      // accept and say nothing until the test ends
};

class FakeTimeServer {
public:
    // Listens on address:37; false when it could not.
    bool Start(const char *address, ServerBehaviour behaviour);
    void Stop();
    ~FakeTimeServer() { Stop(); }

    // The count to send, in host byte order; by default, the current time.
    void SetValue(uint32_t secondsSince1900) { value_ = secondsSince1900; fixedValue_ = true; }
    // Send the current time shifted by this many seconds, early in a second so the receiver's clock agrees.
    void SetOffset(int64_t seconds) { offset_ = seconds; fixedValue_ = false; }
    long Connections() const { return connections_; }

private:
    static DWORD WINAPI Serve(LPVOID self);
    void Answer(SOCKET client);
    uint32_t CurrentValue() const;

    SOCKET listener_ = INVALID_SOCKET;
    HANDLE thread_ = nullptr;
    HANDLE stop_ = nullptr;
    ServerBehaviour behaviour_ = ServerBehaviour::Answer;
    volatile long connections_ = 0;
    uint32_t value_ = 0;
    int64_t offset_ = 0;
    bool fixedValue_ = false;
};

// Seconds since 1900 now, and how far into the current second we are.
uint32_t SecondsSince1900Now(unsigned *millisecondsIntoSecond = nullptr);
