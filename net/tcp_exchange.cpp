// One TCP exchange with a server: socket library, name look-up, bounded connect and clean-up in one place.
#include "net/tcp_exchange.h"

#include "net/socket_support.h"

namespace {

// Waits at most `milliseconds` until the socket can be read, or written when it is connecting.
bool WaitForSocket(SOCKET socket, bool forWrite, DWORD milliseconds) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_SET(socket, &ready);
    return WaitForSockets(ready, failed, forWrite, milliseconds) && FD_ISSET(socket, &ready);
}

int ReceiveFromSocket(void *context, char *buffer, int capacity) {
    return static_cast<SocketReader *>(context)->Receive(buffer, capacity);
}

// A non-blocking connect, so that an address that never answers costs at most `milliseconds`.
bool ConnectWithin(SOCKET socket, const sockaddr_in &address, DWORD milliseconds) {
    u_long nonBlocking = 1;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) != 0)
        return false;
    if (connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitForSocket(socket, true, milliseconds))
        return false;
    int error = 0;
    int size = sizeof error;
    return getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size) == 0 && error == 0;
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
    const OwnedSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address;
    if (!socket.IsOpen() || !ResolveIPv4(host, port, &address))
        return 0;
    SocketReader reader = {socket.Get(), 0};
    reader.WaitAtMost(connectMs);
    return ConnectWithin(socket.Get(), address, connectMs) ? exchange(socket.Get(), reader, context) : 0;
}
