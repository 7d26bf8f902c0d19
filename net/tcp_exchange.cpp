// One TCP exchange with a server: socket library, name look-up, bounded connect and clean-up in one place.
#include "net/tcp_exchange.h"

#include "net/host_lookup.h"
#include "net/socket_support.h"

namespace {

// Waits at most `milliseconds` until the socket can be read, or written when it is connecting.
bool WaitForSocket(SOCKET socket, bool forWrite, DWORD milliseconds) {
    SocketWait wait;
    fd_set &ready = forWrite ? wait.writable : wait.readable;
    wait.Watch(ready, socket);
    wait.Wait(milliseconds);
    return FD_ISSET(socket, &ready);
}

int ReceiveFromSocket(void *context, char *buffer, int capacity) {
    return static_cast<SocketReader *>(context)->Receive(buffer, capacity);
}

} // namespace

int SocketReader::Receive(char *buffer, int capacity) {
    // The socket does not block: take what has arrived, and wait only when nothing has.
    const int count = recv(socket, buffer, capacity, 0);
    if (count != SOCKET_ERROR || WSAGetLastError() != WSAEWOULDBLOCK)
        return count;
    if (!WaitForSocket(socket, false, MillisecondsLeft(deadline)))
        return -1;
    return recv(socket, buffer, capacity, 0);
}

ByteSource SocketReader::Source() {
    return ByteSource{ReceiveFromSocket, this};
}

void SocketReader::WaitAtMost(DWORD milliseconds) {
    deadline = GetTickCount64() + milliseconds;
}

int RunTcpExchange(const char *host, unsigned short port, DWORD connectMs, TcpExchange exchange, void *context) {
    const SocketLibrary library;
    if (!library.Started())
        return 0;
    HostAddresses addresses;
    ResolveHosts(&host, 1, kLookupBoundMs, &addresses);
    for (int i = 0; i < addresses.count; ++i) {
        SocketAddress &address = addresses.address[i];
        SetPort(address, port);
        OwnedSocket socket;
        SocketReader reader = {INVALID_SOCKET, 0};
        reader.WaitAtMost(connectMs);
        // Bounded, so that an address that never answers costs at most connectMs; a half-working IPv6 route then
        // costs the update no more than that before the next address.
        if (StartConnecting(socket, address) && WaitForSocket(socket.Get(), true, connectMs) &&
            ConnectionOpened(socket.Get())) {
            reader.socket = socket.Get();
            return exchange(socket.Get(), reader, context);
        }
    }
    return 0;
}
