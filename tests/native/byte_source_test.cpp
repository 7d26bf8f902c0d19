// Reading whole records from a stream that delivers them in pieces, stops early or fails.
#include <gtest/gtest.h>

#include <string.h>

#include "net/byte_source.h"

namespace {

// Hands out a script of bytes at most `piece` at a time, then reports `end` (0 closed, -1 failed).
struct ScriptedStream {
    const char *bytes;
    int length;
    int piece;
    int end;
    int offset = 0;
    int calls = 0;
};

int ReceiveScripted(void *context, char *buffer, int capacity) {
    ScriptedStream &s = *static_cast<ScriptedStream *>(context);
    ++s.calls;
    if (s.offset == s.length)
        return s.end;
    int count = s.length - s.offset;
    if (count > s.piece)
        count = s.piece;
    if (count > capacity)
        count = capacity;
    memcpy(buffer, s.bytes + s.offset, static_cast<size_t>(count));
    s.offset += count;
    return count;
}

} // namespace

TEST(ReceiveFull, CollectsPiecesAndStopsAtTheLength) {
    ScriptedStream stream = {"\xD6\xC0\xE7\x80"
                             "extra",
                             9, 1, 0};
    char cell[4] = {};
    EXPECT_EQ(ReceiveFull(ByteSource{ReceiveScripted, &stream}, cell, 4), 4);
    EXPECT_EQ(memcmp(cell, "\xD6\xC0\xE7\x80", 4), 0);
    EXPECT_EQ(stream.offset, 4); // nothing beyond the record is taken from the stream
}

TEST(ReceiveFull, ReportsShortCountWhenTheStreamEndsOrFails) {
    for (int end : {0, -1}) {
        ScriptedStream stream = {"\x01\x02", 2, 4, end};
        char cell[4] = {};
        EXPECT_EQ(ReceiveFull(ByteSource{ReceiveScripted, &stream}, cell, 4), 2);
        EXPECT_EQ(stream.calls, 2);
    }
    ScriptedStream empty = {"", 0, 4, 0};
    char cell[4];
    EXPECT_EQ(ReceiveFull(ByteSource{ReceiveScripted, &empty}, cell, 4), 0);
}
