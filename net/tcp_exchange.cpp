// One TCP exchange with a server: socket library, name look-up, bounded connect and clean-up in one place.
#include "net/tcp_exchange.h"

#include <string.h>

namespace {

DWORD MillisecondsLeft(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// Waits at most `milliseconds` until the socket can be read, or written when it is connecting.
bool WaitForSocket(SOCKET socket, bool forWrite, DWORD milliseconds) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    timeval wait = {static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000 * 1000)};
    const int count = select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &wait);
    return count > 0 && FD_ISSET(socket, &ready);
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
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(2, 0), &winsock) != 0)
        return 0;
    int result = 0;
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const hostent *entry = gethostbyname(host);
    if (socket != INVALID_SOCKET && entry != nullptr && entry->h_addrtype == AF_INET && entry->h_addr_list[0]) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        memcpy(&address.sin_addr, entry->h_addr_list[0], sizeof address.sin_addr);
        SocketReader reader = {socket, 0};
        reader.WaitAtMost(connectMs);
        if (ConnectWithin(socket, address, connectMs))
            result = exchange(socket, reader, context);
    }
    if (socket != INVALID_SOCKET)
        closesocket(socket);
    WSACleanup();
    return result;
}
