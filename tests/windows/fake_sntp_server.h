// An SNTP server for the Windows tests: it answers at once, late, never, or with a stream of datagrams that answer
// nothing. Wine binds a datagram socket on a loopback address to every address, and answers from 127.0.0.1, so each
// fake listens on 127.0.0.1 at a port of its own, and the servers asked name that address and port.
#pragma once

#include <winsock2.h>
#include <stdint.h>

enum class SntpBehaviour {
    Answer,  // the time shifted by the offset, held for the delay between receiving and sending
    Silent,  // take requests, say nothing
    Chatter, // datagrams that echo no request, every 20 ms until the test ends
};

class FakeSntpServer {
public:
    ~FakeSntpServer() { Stop(); }
    bool Start(unsigned short port, SntpBehaviour behaviour, int64_t offsetMs = 0, DWORD delayMs = 0);
    void Stop();
    long Requests() const { return requests_; }

private:
    static DWORD WINAPI ServeLoop(LPVOID self);
    uint64_t ServerTime() const;
    void Answer(const char *request, const sockaddr_in &client, bool echo, uint64_t receivedAt);

    SOCKET socket_ = INVALID_SOCKET;
    HANDLE thread_ = nullptr;
    volatile bool stopping_ = false;
    volatile long requests_ = 0;
    SntpBehaviour behaviour_ = SntpBehaviour::Answer;
    int64_t offsetMs_ = 0;
    DWORD delayMs_ = 0;
};
