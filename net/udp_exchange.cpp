// One round of datagrams: a request to each of a few addresses, all sent together, and their answers read as they come.
#include "net/udp_exchange.h"

void DatagramRound::Send(const SocketAddress *addresses, int count, unsigned short port) {
    count_ = count < kMaxDatagramPeers ? count : kMaxDatagramPeers;
    for (int i = 0; i < count_; ++i) {
        Peer &peer = peers_[i];
        peer.socket.Close();
        peer.address = addresses[i];
        SetPort(peer.address, port);
        char packet[kDatagramSize];
        if (!StartConnecting(peer.socket, peer.address, SOCK_DGRAM))
            continue;
        const int length = request_(context_, i, peer.address, packet);
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

void DatagramRound::Take(SocketWait &wait) {
    for (int i = 0; i < count_; ++i) {
        Peer &peer = peers_[i];
        const SOCKET socket = peer.socket.Get();
        if (!peer.socket.IsOpen() || (!FD_ISSET(socket, &wait.readable) && !FD_ISSET(socket, &wait.failed)))
            continue;
        char packet[kDatagramSize];
        SocketAddress from = {};
        int fromSize = sizeof from;
        const int length = recvfrom(socket, packet, sizeof packet, 0, &from.any, &fromSize);
        if (length == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            // A refused port (ICMP unreachable) or a broken socket: this address will not answer.
            if (error != WSAEWOULDBLOCK && error != WSAEMSGSIZE)
                peer.socket.Close();
        } else if (SameAddress(from, peer.address) && answer_(context_, i, peer.address, packet, length)) {
            peer.socket.Close();
        }
    }
}
