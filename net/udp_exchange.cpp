// One round of datagrams: a request to each of a few servers, all sent together, and one bounded wait for answers.
#include "net/udp_exchange.h"

#include "net/socket_support.h"

namespace {

struct Peer {
    OwnedSocket socket;
    sockaddr_in address;
};

// A socket that takes datagrams from `address` only, and reports a refused port as a failure.
bool OpenPeer(Peer &peer, const char *host, unsigned short port) {
    if (!ResolveIPv4(host, port, &peer.address))
        return false;
    peer.socket.Reset(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    u_long nonBlocking = 1;
    return peer.socket.IsOpen() && ioctlsocket(peer.socket.Get(), FIONBIO, &nonBlocking) == 0 &&
           connect(peer.socket.Get(), reinterpret_cast<const sockaddr *>(&peer.address), sizeof peer.address) == 0;
}

// Reads one datagram from a peer that can be read: 1 when it ended the round; 0 to go on; -1 when the socket failed.
int ReadPeer(Peer &peer, int index, DatagramAnswer answer, void *context) {
    char packet[kDatagramSize];
    sockaddr_in from = {};
    int fromSize = sizeof from;
    const int length =
        recvfrom(peer.socket.Get(), packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&from), &fromSize);
    if (length == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        return error == WSAEWOULDBLOCK || error == WSAEMSGSIZE ? 0 : -1;
    }
    if (from.sin_addr.s_addr != peer.address.sin_addr.s_addr || from.sin_port != peer.address.sin_port)
        return 0;
    return answer(context, index, peer.address.sin_addr.s_addr, packet, length);
}

} // namespace

int RunUdpRound(const char *const *hosts, int count, unsigned short port, DWORD waitMs, DatagramRequest request,
                DatagramAnswer answer, void *context) {
    const SocketLibrary library;
    if (!library.Started() || count > kMaxDatagramPeers)
        return 0;
    Peer peers[kMaxDatagramPeers];
    for (int i = 0; i < count; ++i)
        if (!OpenPeer(peers[i], hosts[i], port))
            peers[i].socket.Close();
    // Resolved and connected first, so that the requests leave together and the wait starts after them.
    for (int i = 0; i < count; ++i) {
        char packet[kDatagramSize];
        const int length = peers[i].socket.IsOpen() ? request(context, i, peers[i].address.sin_addr.s_addr, packet) : 0;
        if (length <= 0 || send(peers[i].socket.Get(), packet, length, 0) != length)
            peers[i].socket.Close();
    }
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        for (int i = 0; i < count; ++i)
            if (peers[i].socket.IsOpen())
                FD_SET(peers[i].socket.Get(), &ready);
        if (ready.fd_count == 0 || !WaitForSockets(ready, failed, false, MillisecondsLeft(deadline)))
            return 0;
        for (int i = 0; i < count; ++i) {
            const SOCKET socket = peers[i].socket.Get();
            const int result = !peers[i].socket.IsOpen()   ? 0
                               : FD_ISSET(socket, &failed) ? -1
                               : FD_ISSET(socket, &ready)  ? ReadPeer(peers[i], i, answer, context)
                                                           : 0;
            if (result > 0)
                return 1;
            if (result < 0)
                peers[i].socket.Close();
        }
    }
}
