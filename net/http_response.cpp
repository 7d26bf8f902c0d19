// Reading and parsing HTTP responses: header, status code, Content-Length.
#include "net/http_response.h"

#include <limits.h>
#include <string.h>

namespace {

const char kLengthField[] = "Content-Length";
const int kLengthFieldSize = sizeof kLengthField - 1;
const int kLengthValueSize = 256;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether a header line starting at `at` names `field`: the name in any ASCII case, then a colon.
bool NamesField(const char *header, int length, int at, const char *field, int fieldLength) {
    if (at + fieldLength >= length || header[at + fieldLength] != ':')
        return false;
    for (int i = 0; i < fieldLength; ++i)
        if (AsciiLower(header[at + i]) != AsciiLower(field[i]))
            return false;
    return true;
}

// Where the first header line naming `field` starts within header[0, length), or -1. Lines start after a CRLF,
// so the status line and text inside another field's name or value never match.
int FindField(const char *header, int length, const char *field, int fieldLength) {
    for (int at = 2; at < length; ++at)
        if (header[at - 2] == '\r' && header[at - 1] == '\n' && NamesField(header, length, at, field, fieldLength))
            return at;
    return -1;
}

} // namespace

int ReadHttpHeader(const ByteSource &source, char *buffer) {
    int length = 0;
    while (length < kHttpHeaderSize && !IsCompleteHeader(buffer, length)) {
        if (source.receive(source.context, buffer + length, 1) != 1)
            break;
        ++length;
    }
    return length;
}

bool IsCompleteHeader(const char *header, int length) {
    return length >= 4 && memcmp(header + length - 4, "\r\n\r\n", 4) == 0;
}

int ParseStatusCode(const char *header, int length) {
    if (length < 12 || !IsDigit(header[9]) || !IsDigit(header[10]) || !IsDigit(header[11]))
        return -1;
    return (header[9] - '0') * 100 + (header[10] - '0') * 10 + (header[11] - '0');
}

long ParseContentLength(const char *header, int length) {
    const int field = FindField(header, length, kLengthField, kLengthFieldSize);
    if (field < 0)
        return -1;
    // The value starts after the field name and its colon.
    const int valueStart = field + kLengthFieldSize + 1;
    int valueEnd = valueStart;
    while (valueEnd < length && header[valueEnd] != '\r')
        ++valueEnd;
    if (valueEnd >= length || valueEnd - valueStart >= kLengthValueSize)
        return -1;
    char value[kLengthValueSize] = {};
    memcpy(value, header + valueStart, static_cast<size_t>(valueEnd - valueStart));

    // Only blanks, digits and blanks: anything else is not a length to trust.
    const char *digits = value;
    while (IsBlank(*digits))
        ++digits;
    const char *end = digits;
    while (IsDigit(*end))
        ++end;
    const char *rest = end;
    while (IsBlank(*rest))
        ++rest;
    if (end == digits || *rest != '\0' || end - digits > 10)
        return -1;
    // Ten digits at most: the number fits, and no library parser is needed.
    long long number = 0;
    for (const char *digit = digits; digit < end; ++digit)
        number = number * 10 + (*digit - '0');
    return number > 0 && number <= INT_MAX ? static_cast<long>(number) : -1;
}

int FindFieldValue(const char *header, int length, const char *field) {
    const int fieldLength = static_cast<int>(strlen(field));
    const int at = FindField(header, length, field, fieldLength);
    return at < 0 ? -1 : at + fieldLength + 1;
}

long ReadDecimal(const char *text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    long value = 0;
    for (; IsDigit(*text) && value < LONG_MAX / 10 - 9; ++text)
        value = value * 10 + (*text - '0');
    return negative ? -value : value;
}
