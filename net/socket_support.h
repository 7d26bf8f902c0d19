// What both network exchanges need: the socket library's start and clean-up, an owned socket, the name look-up and
// bounded waits.
#pragma once

#include <winsock2.h>

// Starts the socket library (version 2.0) for as long as it lives.
class SocketLibrary {
public:
    SocketLibrary() : started_(WSAStartup(MAKEWORD(2, 0), &data_) == 0) {}
    SocketLibrary(const SocketLibrary &) = delete;
    SocketLibrary &operator=(const SocketLibrary &) = delete;
    ~SocketLibrary() {
        if (started_)
            WSACleanup();
    }
    bool Started() const { return started_; }

private:
    WSADATA data_;
    bool started_;
};

// A socket closed when its owner goes out of scope.
class OwnedSocket {
public:
    explicit OwnedSocket(SOCKET socket = INVALID_SOCKET) : socket_(socket) {}
    OwnedSocket(const OwnedSocket &) = delete;
    OwnedSocket &operator=(const OwnedSocket &) = delete;
    ~OwnedSocket() { Close(); }

    SOCKET Get() const { return socket_; }
    bool IsOpen() const { return socket_ != INVALID_SOCKET; }
    void Reset(SOCKET socket) {
        Close();
        socket_ = socket;
    }
    void Close() {
        if (IsOpen())
            closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }

private:
    SOCKET socket_;
};

// host's first IPv4 address with port; false when the name does not resolve to one.
bool ResolveIPv4(const char *host, unsigned short port, sockaddr_in *address);

DWORD MillisecondsLeft(ULONGLONG deadline);

// Waits at most `milliseconds` until a socket of `ready` can be read (or written, when forWrite) or has failed.
// Afterwards `ready` holds the sockets that can be used and `failed` those that failed; false when none is either.
bool WaitForSockets(fd_set &ready, fd_set &failed, bool forWrite, DWORD milliseconds);
