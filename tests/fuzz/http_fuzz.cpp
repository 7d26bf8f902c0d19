// Fuzz target: the vendor's responses as a hostile server could send them, handed out in random pieces, through
// the header reader, the status, length and Date parsers and the version page; and the same bytes as an SNTP answer
// and as a version record.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "time/calendar.h"
#include "time/sntp.h"
#include "net/http_response.h"
#include "time/web_time.h"
#include "update/update_checker.h"
#include "update/version_record.h"

namespace {

// The first bytes of the input choose the piece sizes; the rest is what the server sends.
struct PiecewiseStream {
    const uint8_t *data;
    size_t size;
    size_t offset;
    const uint8_t *pieces;
    size_t pieceCount;
    size_t nextPiece;
};

int ReceivePiece(void *context, char *buffer, int capacity) {
    PiecewiseStream &s = *static_cast<PiecewiseStream *>(context);
    if (s.offset >= s.size)
        return 0;
    size_t count = s.pieceCount ? s.pieces[s.nextPiece++ % s.pieceCount] % 8 + 1 : 1;
    if (count > s.size - s.offset)
        count = s.size - s.offset;
    if (count > static_cast<size_t>(capacity))
        count = static_cast<size_t>(capacity);
    memcpy(buffer, s.data + s.offset, count);
    s.offset += count;
    return static_cast<int>(count);
}

// The request whose time stamp the fuzzer has to find to get past the echo check.
const uint64_t kSentTimestamp = 0xEC5C1A2B80000000ull;

void CheckSntpAnswer(const uint8_t *data, size_t size) {
    SntpAnswer answer;
    if (ParseSntpAnswer(data, size, kSentTimestamp, &answer) != kSntpTime)
        return;
    // Whatever era the answer's times fall in, the offset stays within the span of the two eras read.
    const uint64_t ours = NtpTimestampToFileTime(kSentTimestamp);
    const int64_t offset = SntpClockOffset(ours, answer.received, answer.transmitted, ours);
    const int64_t seconds = offset / static_cast<int64_t>(kIntervalsPerSecond);
    if (answer.transmitted == 0 || seconds > (1ll << 33) || seconds < -(1ll << 33))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    CheckSntpAnswer(data, size);
    IsVersionRecordOf(data, size, CURRENT_VERSION, "Tempvaro.exe");
    const size_t pieceCount = size > 0 ? data[0] % 16 : 0;
    if (size < 1 + pieceCount)
        return 0;
    PiecewiseStream stream = {data + 1 + pieceCount, size - 1 - pieceCount, 0, data + 1, pieceCount, 0};
    const ByteSource source = {ReceivePiece, &stream};

    // An exactly sized buffer, so that the address sanitizer sees any write or read past it.
    char *header = new char[kHttpHeaderSize];
    memset(header, 0, kHttpHeaderSize);
    const int length = ReadHttpHeader(source, header);
    if (length < 0 || length > kHttpHeaderSize)
        __builtin_trap();
    const int status = ParseStatusCode(header, length);
    const long contentLength = ParseContentLength(header, length);
    if (status > 999 || contentLength == 0 || contentLength < -1)
        __builtin_trap();
    // A Date read names a whole second no earlier than this build's day.
    uint64_t second;
    if (ReadHttpDate(header, length, &second) && (second < kEarliestServerTime || second % kIntervalsPerSecond != 0))
        __builtin_trap();

    char body[UpdateChecker::kVersionPageSize];
    const int bodyLength = ReceiveFull(source, body, sizeof body);
    UpdateChecker checker;
    checker.ApplyVersionPage(body, bodyLength);
    const int result = checker.CompareVersion(CURRENT_VERSION);
    if (result < 0 || result > 2 || (result != 0 && checker.markerSeen != 1))
        __builtin_trap();
    delete[] header;
    return 0;
}
