// One round of datagrams: a request to each of a few servers, all sent together, and their answers read as they come.
#include "net/udp_exchange.h"

void DatagramRound::Send(const HostAddresses *peers, int count, unsigned short port, DWORD now) {
    port_ = port;
    count_ = count < kMaxDatagramPeers ? count : kMaxDatagramPeers;
    for (int i = 0; i < count_; ++i) {
        peers_[i].addresses = &peers[i];
        peers_[i].next = 0;
        AskNext(i, now);
    }
}

bool DatagramRound::AskNext(int index, DWORD now) {
    Peer &peer = peers_[index];
    peer.socket.Close();
    while (peer.next < peer.addresses->count) {
        peer.address = peer.addresses->address[peer.next++];
        SetPort(peer.address, port_);
        char packet[kDatagramSize];
        if (!StartConnecting(peer.socket, peer.address, SOCK_DGRAM))
            continue;
        const int length = request_(context_, index, peer.address, packet);
        peer.askedAt = now;
        if (length > 0 && send(peer.socket.Get(), packet, length, 0) == length)
            return true;
    }
    peer.socket.Close();
    return false;
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

DWORD DatagramRound::NextGiveUp() const {
    DWORD earliest = ~0u;
    for (int i = 0; i < count_; ++i) {
        const Peer &peer = peers_[i];
        // The last address is never given up: the caller's own bound ends its wait.
        if (peer.socket.IsOpen() && peer.next < peer.addresses->count && peer.askedAt + kAddressSilenceMs < earliest)
            earliest = peer.askedAt + kAddressSilenceMs;
    }
    return earliest;
}

void DatagramRound::Take(SocketWait &wait, DWORD now) {
    for (int i = 0; i < count_; ++i) {
        Peer &peer = peers_[i];
        const SOCKET socket = peer.socket.Get();
        if (!peer.socket.IsOpen())
            continue;
        if (!FD_ISSET(socket, &wait.readable) && !FD_ISSET(socket, &wait.failed)) {
            if (now - peer.askedAt >= kAddressSilenceMs && peer.next < peer.addresses->count)
                AskNext(i, now);
            continue;
        }
        char packet[kDatagramSize];
        SocketAddress from = {};
        int fromSize = sizeof from;
        const int length = recvfrom(socket, packet, sizeof packet, 0, &from.any, &fromSize);
        if (length == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            // A refused port (ICMP unreachable) or a broken socket: this address will not answer.
            if (error != WSAEWOULDBLOCK && error != WSAEMSGSIZE)
                AskNext(i, now);
        } else if (SameAddress(from, peer.address) && answer_(context_, i, peer.address, packet, length)) {
            peer.socket.Close();
        }
    }
}
