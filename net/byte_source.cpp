// Reading whole records from a stream that may deliver them in pieces.
#include "net/byte_source.h"

int ReceiveFull(const ByteSource &source, char *buffer, int length) {
    int received = 0;
    while (received < length) {
        const int count = source.receive(source.context, buffer + received, length - received);
        if (count <= 0)
            break;
        received += count;
    }
    return received;
}
