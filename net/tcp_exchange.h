// One TCP exchange with a server: socket library, name look-up, bounded connect and clean-up in one place.
#pragma once

#include <winsock2.h>

#include "net/byte_source.h"

// A socket read through ByteSource; each receive waits at most until `deadline` (a GetTickCount64 value).
struct SocketReader {
    SOCKET socket;
    ULONGLONG deadline;

    // Receives what has arrived, waiting until the deadline when nothing has; as ByteSource's receive.
    int Receive(char *buffer, int capacity);
    ByteSource Source();
    void WaitAtMost(DWORD milliseconds);
};

// Does the exchange on a connected socket; returns the exchange's result.
typedef int (*TcpExchange)(SOCKET socket, SocketReader &reader, void *context);

// Starts the socket library (version 2.0), resolves host within a bound to its addresses of either family, connects to
// port at each in the resolver's order until one opens within connectMs, and runs exchange there with a reader whose
// deadline is connectMs from that connection's start. Sockets are closed and the socket library shut down on every
// path. Returns 0 when the name did not resolve or no connection opened, otherwise the exchange's result.
int RunTcpExchange(const char *host, unsigned short port, DWORD connectMs, TcpExchange exchange, void *context);
