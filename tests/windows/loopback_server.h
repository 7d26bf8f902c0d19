// A TCP server on a loopback address for the Windows tests: one connection at a time, served by a subclass.
#pragma once

#include <winsock2.h>

class LoopbackServer {
public:
    // Subclasses stop the server in their own destructor, while Serve can still be called.
    virtual ~LoopbackServer() = default;
    // Listens on address:port; false when it could not.
    bool Listen(const char *address, unsigned short port);
    // Stops listening and releases any connection held open; safe to call twice.
    void Stop();
    long Connections() const { return connections_; }

protected:
    virtual void Serve(SOCKET client) = 0;
    // Holds the connection open, saying nothing, until the test ends.
    void StayQuiet() { WaitForSingleObject(stop_, INFINITE); }

private:
    static DWORD WINAPI AcceptLoop(LPVOID self);

    SOCKET listener_ = INVALID_SOCKET;
    HANDLE thread_ = nullptr;
    HANDLE stop_ = nullptr;
    volatile long connections_ = 0;
};
