// What both network exchanges need: the name look-up and bounded waits.
#include "net/socket_support.h"

#include <string.h>

bool ResolveIPv4(const char *host, unsigned short port, sockaddr_in *address) {
    // The result belongs to the calling thread until its next look-up: copy it at once.
    const hostent *entry = gethostbyname(host);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == nullptr)
        return false;
    memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_port = htons(port);
    memcpy(&address->sin_addr, entry->h_addr_list[0], sizeof address->sin_addr);
    return true;
}

bool StartConnecting(OwnedSocket &socket, const sockaddr_in &address) {
    socket.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    u_long nonBlocking = 1;
    if (!socket.IsOpen() || ioctlsocket(socket.Get(), FIONBIO, &nonBlocking) != 0)
        return false;
    return connect(socket.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 ||
           WSAGetLastError() == WSAEWOULDBLOCK;
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
    timeval wait = {static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000 * 1000)};
    if (select(0, &readable, &writable, &failed, &wait) <= 0)
        Clear();
}
