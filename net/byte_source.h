// A stream of received bytes behind one function, so that readers can be tested and fuzzed without sockets.
#pragma once

struct ByteSource {
    // Receives up to `capacity` bytes into buffer; returns the count, 0 when the peer has closed the stream,
    // or a negative number on an error or when the wait ran out.
    int (*receive)(void *context, char *buffer, int capacity);
    void *context;
};

// Reads until `length` bytes have arrived or the stream ends; returns the number of bytes read.
int ReceiveFull(const ByteSource &source, char *buffer, int length);
