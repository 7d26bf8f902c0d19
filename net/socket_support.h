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

// Makes `socket` a non-blocking TCP socket and starts connecting it to `address`; false when that failed at once.
// The connection has opened, or failed, once the socket can be written or has failed; ConnectionOpened tells which.
bool StartConnecting(OwnedSocket &socket, const sockaddr_in &address);
bool ConnectionOpened(SOCKET socket);

DWORD MillisecondsLeft(ULONGLONG deadline);

// One select over sockets waiting to be read, to be written (a connection opening) or to fail.
struct SocketWait {
    fd_set readable;
    fd_set writable;
    fd_set failed;

    SocketWait() { Clear(); }
    void Clear();
    // Adds `socket` to `set` and to the failed set.
    void Watch(fd_set &set, SOCKET socket);
    // Waits at most `milliseconds` until a watched socket is ready or has failed. Afterwards the sets hold only the
    // sockets that are (none when the time ran out).
    void Wait(DWORD milliseconds);
};
