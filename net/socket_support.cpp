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

DWORD MillisecondsLeft(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

bool WaitForSockets(fd_set &ready, fd_set &failed, bool forWrite, DWORD milliseconds) {
    failed = ready;
    timeval wait = {static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000 * 1000)};
    return select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &wait) > 0;
}
