// Reading and parsing HTTP responses: header, status code, Content-Length, where a field is.
// Plain C++ over byte buffers, so that it can be fuzzed.
#pragma once

#include <stddef.h>

#include "net/byte_source.h"

const int kHttpHeaderSize = 1024;

// Receives one byte at a time into buffer (kHttpHeaderSize bytes) until the blank line that ends the header, the
// end of the stream, or a full buffer. Returns the number of bytes stored; nothing after the blank line is taken.
int ReadHttpHeader(const ByteSource &source, char *buffer);

// True when the header's last four bytes are the blank line that ends it.
bool IsCompleteHeader(const char *header, int length);

// The three characters at positions 10 to 12 of the status line as a number, or -1 when the header is too short
// or they are not digits.
int ParseStatusCode(const char *header, int length);

// The value of the first "Content-Length" field (a header line that starts with the name in any case and a colon),
// or -1 when there is none, it has no end of line within the header, or it is not a positive number that fits
// 32 bits.
long ParseContentLength(const char *header, int length);

// Where the value of the first field named `field` (as for Content-Length) starts, just after its colon, or -1.
int FindFieldValue(const char *header, int length, const char *field);

// Decimal text read by the usual rule: leading white space, an optional sign, digits up to the first non-digit;
// no digits read as 0.
long ReadDecimal(const char *text);
