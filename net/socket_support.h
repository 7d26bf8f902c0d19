// What both network exchanges need: the socket library's start and clean-up, an owned socket, the name look-up and
// bounded waits.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

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

// An IPv4 or IPv6 address with its port.
union SocketAddress {
    sockaddr any;
    sockaddr_in v4;
    sockaddr_in6 v6;
};

int AddressSize(const SocketAddress &address);
// Gives the address `port`, unless it names a port of its own (a resolved address never does).
void SetPort(SocketAddress &address, unsigned short port);
// The same family, address and port.
bool SameAddress(const SocketAddress &a, const SocketAddress &b);

// Public time services hand out a few addresses per name; more are not tried within one server's bound.
const int kMaxHostAddresses = 6;

// A host's addresses of both families, in the order the resolver gives them; their ports are 0.
struct HostAddresses {
    int count;
    SocketAddress address[kMaxHostAddresses];
};

// Looks host up (it may block for long); count 0 when the name does not resolve. The socket library must be started.
void ResolveHost(const char *host, HostAddresses *addresses);

// Makes `socket` a non-blocking socket of the address's family and type, and for TCP starts connecting it to
// `address`, for UDP connects it (so that it takes datagrams from there only, and a refused port shows as a failure).
// False when that failed at once. A TCP connection has opened, or failed, once the socket can be written or has
// failed; ConnectionOpened tells which.
bool StartConnecting(OwnedSocket &socket, const SocketAddress &address, int type = SOCK_STREAM);
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
