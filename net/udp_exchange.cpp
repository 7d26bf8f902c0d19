// One round of datagrams: a request to each of a few servers, all sent together, and their answers read as they come.
#include "net/udp_exchange.h"

namespace {

// A socket that takes datagrams from `address` only, and reports a refused port as a failure.
bool Connect(OwnedSocket &socket, const sockaddr_in &address) {
    socket.Reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    u_long nonBlocking = 1;
    return socket.IsOpen() && ioctlsocket(socket.Get(), FIONBIO, &nonBlocking) == 0 &&
           connect(socket.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

} // namespace

void DatagramRound::Send(const char *const *hosts, int count, unsigned short port, DatagramRequest request,
                         void *context) {
    count_ = count < kMaxDatagramPeers ? count : kMaxDatagramPeers;
    for (int i = 0; i < count_; ++i)
        if (!ResolveIPv4(hosts[i], port, &peers_[i].address) || !Connect(peers_[i].socket, peers_[i].address))
            peers_[i].socket.Close();
    // Resolved and connected first, so that the requests leave together.
    for (int i = 0; i < count_; ++i) {
        char packet[kDatagramSize];
        Peer &peer = peers_[i];
        const int length = peer.socket.IsOpen() ? request(context, i, peer.address.sin_addr.s_addr, packet) : 0;
        if (length <= 0 || send(peer.socket.Get(), packet, length, 0) != length)
            peer.socket.Close();
    }
}

int DatagramRound::Awaited() const {
    int awaited = 0;
    for (int i = 0; i < count_; ++i)
        awaited += peers_[i].socket.IsOpen() ? 1 : 0;
    return awaited;
}

void DatagramRound::Watch(SocketWait &wait) const {
    for (int i = 0; i < count_; ++i)
        if (peers_[i].socket.IsOpen())
            wait.Watch(wait.readable, peers_[i].socket.Get());
}

void DatagramRound::Take(SocketWait &wait, DatagramAnswer answer, void *context) {
    for (int i = 0; i < count_; ++i) {
        Peer &peer = peers_[i];
        const SOCKET socket = peer.socket.Get();
        if (!peer.socket.IsOpen() || (!FD_ISSET(socket, &wait.readable) && !FD_ISSET(socket, &wait.failed)))
            continue;
        char packet[kDatagramSize];
        sockaddr_in from = {};
        int fromSize = sizeof from;
        const int length = recvfrom(socket, packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&from), &fromSize);
        if (length == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK && error != WSAEMSGSIZE)
                peer.socket.Close();
        } else if (from.sin_addr.s_addr == peer.address.sin_addr.s_addr && from.sin_port == peer.address.sin_port &&
                   answer(context, i, peer.address.sin_addr.s_addr, packet, length)) {
            peer.socket.Close();
        }
    }
}
