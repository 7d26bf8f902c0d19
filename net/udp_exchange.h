// One round of datagrams: a request to each of a few servers, all sent together, and one bounded wait for answers.
#pragma once

#include <winsock2.h>
#include <stdint.h>

const int kMaxDatagramPeers = 3;
// Room for one request or answer; a longer answer is no answer.
const int kDatagramSize = 512;

// Writes the request for peer `peer` (its IPv4 address in network byte order) and returns its length, or 0 to ask
// that peer nothing.
typedef int (*DatagramRequest)(void *context, int peer, uint32_t address, char *packet);
// Takes a datagram that came from the peer's address; returns 1 when it ends the round, 0 to go on waiting.
typedef int (*DatagramAnswer)(void *context, int peer, uint32_t address, const char *packet, int length);

// Resolves each host to its first IPv4 address, sends each its request to `port`, then waits at most waitMs in all
// for an answer that ends the round, or until every peer's socket has failed (a refused port). The sockets are
// closed and the socket library shut down on every path. Returns 1 when an answer ended the round, 0 otherwise.
int RunUdpRound(const char *const *hosts, int count, unsigned short port, DWORD waitMs, DatagramRequest request,
                DatagramAnswer answer, void *context);
