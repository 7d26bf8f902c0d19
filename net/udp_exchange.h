// One round of datagrams: a request to each of a few addresses, all sent together, and their answers read as they
// come, while the caller waits on them beside whatever else it waits for.
#pragma once

#include <winsock2.h>

#include "net/socket_support.h"

// Three servers of up to four addresses each.
const int kMaxDatagramPeers = 12;
// Room for one request or answer; a longer answer is no answer.
const int kDatagramSize = 512;

// Writes the request for peer `peer` at `address` and returns its length, or 0 to ask that address nothing.
typedef int (*DatagramRequest)(void *context, int peer, const SocketAddress &address, char *packet);
// Takes a datagram that came from the peer's address; returns 1 when the peer has said all it will, 0 to go on
// waiting for it.
typedef int (*DatagramAnswer)(void *context, int peer, const SocketAddress &address, const char *packet, int length);

// The sockets are closed when the round goes out of scope or the next is sent; the caller keeps the socket library
// started meanwhile.
class DatagramRound {
public:
    DatagramRound(DatagramRequest request, DatagramAnswer answer, void *context)
        : request_(request), answer_(answer), context_(context) {}
    // Asks each of `count` addresses (at most kMaxDatagramPeers) on `port`; peer i is addresses[i].
    void Send(const SocketAddress *addresses, int count, unsigned short port);
    // The peers still awaited: asked and not yet done.
    int Awaited() const;
    bool Awaits(int peer) const { return peer < count_ && peers_[peer].socket.IsOpen(); }
    // Adds the awaited peers' sockets to `wait`.
    void Watch(SocketWait &wait) const;
    // Reads what the wait found. A peer that the answer callback calls done, or whose address failed (a refused
    // port), is no longer awaited.
    void Take(SocketWait &wait);

private:
    struct Peer {
        OwnedSocket socket;
        SocketAddress address;
    };

    DatagramRequest request_;
    DatagramAnswer answer_;
    void *context_;
    Peer peers_[kMaxDatagramPeers];
    int count_ = 0;
};
