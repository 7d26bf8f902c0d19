// One round of datagrams: a request to each of a few servers, all sent together, and their answers read as they come,
// while the caller waits on them beside whatever else it waits for.
#pragma once

#include <winsock2.h>
#include <stdint.h>

#include "net/socket_support.h"

const int kMaxDatagramPeers = 3;
// Room for one request or answer; a longer answer is no answer.
const int kDatagramSize = 512;

// Writes the request for peer `peer` (its IPv4 address in network byte order) and returns its length, or 0 to ask
// that peer nothing.
typedef int (*DatagramRequest)(void *context, int peer, uint32_t address, char *packet);
// Takes a datagram that came from the peer's address; returns 1 when the peer has said all it will, 0 to go on
// waiting for it.
typedef int (*DatagramAnswer)(void *context, int peer, uint32_t address, const char *packet, int length);

// The sockets are closed when the round goes out of scope; the caller keeps the socket library started meanwhile.
class DatagramRound {
public:
    // Resolves each of `count` hosts (at most kMaxDatagramPeers) to its first IPv4 address and sends each its request.
    void Send(const char *const *hosts, int count, unsigned short port, DatagramRequest request, void *context);
    // The peers still awaited: asked, not yet done, their sockets not failed (a refused port).
    int Awaited() const;
    // Adds the awaited peers' sockets to `wait`.
    void Watch(SocketWait &wait) const;
    // Reads what the wait found; a peer that `answer` calls done, or whose socket failed, is no longer awaited.
    void Take(SocketWait &wait, DatagramAnswer answer, void *context);

private:
    struct Peer {
        OwnedSocket socket;
        sockaddr_in address;
    };
    Peer peers_[kMaxDatagramPeers];
    int count_ = 0;
};
