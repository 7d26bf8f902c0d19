// One round of datagrams: a request to each of a few servers, all sent together, and their answers read as they come,
// while the caller waits on them beside whatever else it waits for. A server whose address refuses or stays silent is
// asked at its next address.
#pragma once

#include <winsock2.h>

#include "net/socket_support.h"

const int kMaxDatagramPeers = 3;
// Room for one request or answer; a longer answer is no answer.
const int kDatagramSize = 512;
// A peer's address silent this long is given up for its next one.
const DWORD kAddressSilenceMs = 1000;

// Writes the request for peer `peer` at `address` and returns its length, or 0 to ask that address nothing.
typedef int (*DatagramRequest)(void *context, int peer, const SocketAddress &address, char *packet);
// Takes a datagram that came from the address the peer was asked at; returns 1 when the peer has said all it will,
// 0 to go on waiting for it.
typedef int (*DatagramAnswer)(void *context, int peer, const SocketAddress &address, const char *packet, int length);

// The sockets are closed when the round goes out of scope; the caller keeps the socket library started meanwhile.
// Times are the caller's milliseconds, from any start.
class DatagramRound {
public:
    DatagramRound(DatagramRequest request, DatagramAnswer answer, void *context)
        : request_(request), answer_(answer), context_(context) {}
    // Asks each of `count` peers (at most kMaxDatagramPeers), with the addresses given, at its first address on `port`.
    void Send(const HostAddresses *peers, int count, unsigned short port, DWORD now);
    // The peers still awaited: asked, not yet done, with an address left to ask.
    int Awaited() const;
    bool Awaits(int peer) const { return peer < count_ && peers_[peer].socket.IsOpen(); }
    // Adds the awaited peers' sockets to `wait`.
    void Watch(SocketWait &wait) const;
    // When the next silent address is due to be given up.
    DWORD NextGiveUp() const;
    // Reads what the wait found. A peer that the answer callback calls done is no longer awaited; one whose address
    // failed (a refused port), or has been silent for kAddressSilenceMs, is asked at its next address.
    void Take(SocketWait &wait, DWORD now);

private:
    struct Peer {
        OwnedSocket socket;
        const HostAddresses *addresses;
        int next;
        SocketAddress address;
        DWORD askedAt;
    };
    // Asks `peer` at its next address that takes the request; false when none is left.
    bool AskNext(int peer, DWORD now);

    DatagramRequest request_;
    DatagramAnswer answer_;
    void *context_;
    unsigned short port_ = 0;
    Peer peers_[kMaxDatagramPeers];
    int count_ = 0;
};
