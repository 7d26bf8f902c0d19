// What both network exchanges need: addresses of either family, the name look-up and bounded waits.
#include "net/socket_support.h"

#include <string.h>

int AddressSize(const SocketAddress &address) {
    return address.any.sa_family == AF_INET6 ? sizeof address.v6 : sizeof address.v4;
}

void SetPort(SocketAddress &address, unsigned short port) {
    // The port lies at the same place in both families' records.
    if (address.v4.sin_port == 0)
        address.v4.sin_port = htons(port);
}

bool SameAddress(const SocketAddress &a, const SocketAddress &b) {
    if (a.any.sa_family != b.any.sa_family || a.v4.sin_port != b.v4.sin_port)
        return false;
    return a.any.sa_family == AF_INET6 ? memcmp(&a.v6.sin6_addr, &b.v6.sin6_addr, sizeof a.v6.sin6_addr) == 0 &&
                                             a.v6.sin6_scope_id == b.v6.sin6_scope_id
                                       : a.v4.sin_addr.s_addr == b.v4.sin_addr.s_addr;
}

void ResolveHost(const char *host, HostAddresses *addresses) {
    addresses->count = 0;
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0)
        return;
    for (const addrinfo *entry = found; entry != nullptr && addresses->count < kMaxHostAddresses;
         entry = entry->ai_next) {
        const bool known = (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) ||
                           (entry->ai_family == AF_INET6 && entry->ai_addrlen >= sizeof(sockaddr_in6));
        if (!known)
            continue;
        SocketAddress &address = addresses->address[addresses->count++];
        memset(&address, 0, sizeof address);
        memcpy(&address, entry->ai_addr, entry->ai_family == AF_INET6 ? sizeof address.v6 : sizeof address.v4);
    }
    freeaddrinfo(found);
}

bool StartConnecting(OwnedSocket &socket, const SocketAddress &address, int type) {
    socket.Reset(::socket(address.any.sa_family, type, type == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP));
    u_long nonBlocking = 1;
    if (!socket.IsOpen() || ioctlsocket(socket.Get(), FIONBIO, &nonBlocking) != 0)
        return false;
    return connect(socket.Get(), &address.any, AddressSize(address)) == 0 || WSAGetLastError() == WSAEWOULDBLOCK;
}

bool ConnectionOpened(SOCKET socket) {
    int error = 0;
    int size = sizeof error;
    return getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size) == 0 && error == 0;
}

DWORD MillisecondsLeft(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

void SocketWait::Clear() {
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
}

void SocketWait::Watch(fd_set &set, SOCKET socket) {
    FD_SET(socket, &set);
    FD_SET(socket, &failed);
}

void SocketWait::Wait(DWORD milliseconds) {
    // Windows' select refuses empty sets at once; every watched socket is in the failed set.
    if (failed.fd_count == 0) {
        Sleep(milliseconds);
        return;
    }
    timeval wait = {static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000 * 1000)};
    if (select(0, &readable, &writable, &failed, &wait) <= 0)
        Clear();
}
