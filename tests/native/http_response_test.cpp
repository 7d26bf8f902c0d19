// The header reader, status code, Content-Length, request and version page over byte buffers; a build's version record.
#include <gtest/gtest.h>

#include <string.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "net/http_request.h"
#include "net/http_response.h"
#include "update/update_checker.h"
#include "update/version_record.h"

namespace {

// Hands out `text` at most `piece` bytes per call, then reports `end`.
struct Stream {
    std::string text;
    size_t piece;
    int end;
    size_t offset = 0;
};

int ReceiveFromStream(void *context, char *buffer, int capacity) {
    Stream &s = *static_cast<Stream *>(context);
    if (s.offset == s.text.size())
        return s.end;
    size_t count = s.text.size() - s.offset;
    if (count > s.piece)
        count = s.piece;
    if (count > static_cast<size_t>(capacity))
        count = static_cast<size_t>(capacity);
    memcpy(buffer, s.text.data() + s.offset, count);
    s.offset += count;
    return static_cast<int>(count);
}

long Length(const std::string &header) {
    return ParseContentLength(header.data(), static_cast<int>(header.size()));
}
int Status(const std::string &header) {
    return ParseStatusCode(header.data(), static_cast<int>(header.size()));
}

int Classify(const char *body, int length) {
    UpdateChecker checker;
    checker.ApplyVersionPage(body, length);
    return checker.CompareVersion(CURRENT_VERSION);
}

// Build 31's record from windres with `bytes` at `at` (OriginalFilename's block at 572; the last key ends at 884).
std::string Record(size_t at = 0, const std::string &bytes = "") {
    std::ifstream file(TEMPVARO_RECORD_FIXTURE, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {}).replace(at, bytes.size(), bytes);
}

// Read from a buffer of exactly its size, so that the address sanitizer sees any read past it.
bool IsBuild(const std::string &record, int build = 31) {
    const std::vector<unsigned char> exact(record.begin(), record.end());
    return IsVersionRecordOf(exact.data(), exact.size(), build, "Tempvaro.exe");
}

} // namespace

TEST(ReadHttpHeader, StopsRightAfterTheBlankLine) {
    Stream stream = {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nzq31", 7, 0};
    char header[kHttpHeaderSize] = {};
    const int length = ReadHttpHeader(ByteSource{ReceiveFromStream, &stream}, header);
    EXPECT_EQ(std::string(header, static_cast<size_t>(length)), "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n");
    EXPECT_TRUE(IsCompleteHeader(header, length));
    EXPECT_EQ(stream.text.substr(stream.offset), "zq31") << "the body stays on the connection";
}

TEST(ReadHttpHeader, StopsAtAClosedOrFailedStreamAndAtTheBufferEnd) {
    for (int end : {0, -1}) {
        Stream stream = {"HTTP/1.1 200 OK\r\nContent-", 100, end};
        char header[kHttpHeaderSize] = {};
        const int length = ReadHttpHeader(ByteSource{ReceiveFromStream, &stream}, header);
        EXPECT_EQ(length, 25);
        EXPECT_FALSE(IsCompleteHeader(header, length));
    }
    Stream endless = {"HTTP/1.1 200 OK\r\nX: " + std::string(2000, 'a') + "\r\n\r\n", 3, 0};
    char header[kHttpHeaderSize + 1];
    header[kHttpHeaderSize] = '#';
    const int length = ReadHttpHeader(ByteSource{ReceiveFromStream, &endless}, header);
    EXPECT_EQ(length, kHttpHeaderSize);
    EXPECT_FALSE(IsCompleteHeader(header, length));
    EXPECT_EQ(header[kHttpHeaderSize], '#') << "nothing written past the buffer";
}

TEST(ParseStatusCode, ReadsPositionsTenToTwelve) {
    EXPECT_EQ(Status("HTTP/1.1 200 OK\r\n\r\n"), 200);
    EXPECT_EQ(Status("HTTP/1.1 404 Not Found\r\n\r\n"), 404);
    EXPECT_EQ(Status("HTTP/1.1 20"), -1);
    EXPECT_EQ(Status("HTTP/1.1 2x0 OK\r\n\r\n"), -1);
    EXPECT_EQ(Status(""), -1);
}

TEST(ParseContentLength, ReadsTheFirstFieldUpToTheLineEnd) {
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length: 5242880\r\n\r\n"), 5242880);
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length:17\r\nContent-Length: 99\r\n\r\n"), 17);
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length:   2147483647  \r\n\r\n"), 2147483647);
}

TEST(ParseContentLength, MatchesTheNameInAnyCaseOnlyAtALineStart) {
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\n"), 5);
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nCONTENT-length:6\r\n\r\n"), 6);
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nX-Content-Length: 7\r\nContent-Length: 8\r\n\r\n"), 8);
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nX-Content-Length: 7\r\n\r\n"), -1);
    EXPECT_EQ(Length("HTTP/1.1 200 Content-Length: 9\r\n\r\n"), -1);                  // inside the status line
    EXPECT_EQ(Length("Content-Length: 9\r\n\r\n"), -1);                               // where the status line belongs
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nServer: a\nContent-Length: 9\r\n\r\n"), -1); // a bare line feed
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Lengths: 9\r\n\r\n"), -1);
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length 9\r\n\r\n"), -1); // no colon
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\n Content-Length: 9\r\n\r\n"), -1);
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length"), -1);
}

TEST(ParseContentLength, RefusesLengthsItCannotTrust) {
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nServer: x\r\n\r\n"), -1);           // missing
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\n"), -1);     // no value
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n"), -1); // not a number
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n"), -1);
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n"), -1);
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), -1);
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n"), -1);
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n"), -1);
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length: 5"), -1); // no line end before the header's end
    EXPECT_EQ(Length("HTTP/1.1 200 OK\r\nContent-Length: " + std::string(300, ' ') + "5\r\n\r\n"), -1);
    EXPECT_EQ(Length("Content-Length"), -1);
}

TEST(FormatHttpRequest, FillsTheTemplateAndRefusesWhatDoesNotFit) {
    char request[512];
    ASSERT_TRUE(
        FormatHttpRequest("/soft/Chronvik/", "Chronvik.asp?id=711", "www.tempvaro.example", request, sizeof request));
    EXPECT_STREQ(request, "GET /soft/Chronvik/Chronvik.asp?id=711 HTTP/1.1\r\nHost:www.tempvaro.example\r\n"
                          "Accept:*/*\r\nUser-Agent:Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n"
                          "Connection:Keep-Alive\r\n\r\n");
    // 119 characters of template plus 136 of names fill a 256-byte buffer exactly; one more does not fit.
    const std::string host(136 - 15 - 12, 'h');
    char small[256];
    EXPECT_TRUE(FormatHttpRequest("/soft/Chronvik/", "Chronvik.exe", host.c_str(), small, sizeof small));
    EXPECT_FALSE(FormatHttpRequest("/soft/Chronvik/", "Chronvik.exe", (host + "h").c_str(), small, sizeof small));
}

TEST(VersionPage, OffersOnlyANewerBuildBehindTheMarker) {
    EXPECT_EQ(Classify("zq31", 4), kVersionCurrent);
    EXPECT_EQ(Classify("zq32", 4), kVersionNewer);
    EXPECT_EQ(Classify("zq30", 4), kVersionCurrent); // a lower build is never offered
    EXPECT_EQ(Classify("zq31 and more", 13), kVersionCurrent);
    EXPECT_EQ(Classify("ZQ31", 4), kVersionUnknown);
    EXPECT_EQ(Classify("Zq31", 4), kVersionUnknown);
    EXPECT_EQ(Classify("zqab", 4), kVersionUnknown);
    EXPECT_EQ(Classify("zq3", 3), kVersionCurrent); // build 3
    EXPECT_EQ(Classify("zq", 2), kVersionUnknown);
    EXPECT_EQ(Classify("", 0), kVersionUnknown);
}

TEST(VersionPage, ReadsTheNumberEvenWithoutTheMarker) {
    UpdateChecker checker;
    checker.ApplyVersionPage("ZQ31", 4);
    EXPECT_EQ(checker.markerSeen, 0);
    EXPECT_EQ(checker.latestVersion, 31);
    checker.ApplyVersionPage("zq\0"
                             "5",
                             4); // a zero byte ends the number's text
    EXPECT_EQ(checker.markerSeen, 1);
    EXPECT_EQ(checker.latestVersion, 0);
}

TEST(ReadDecimal, FollowsTheUsualRule) {
    EXPECT_EQ(ReadDecimal("  31"), 31);
    EXPECT_EQ(ReadDecimal("-7x"), -7);
    EXPECT_EQ(ReadDecimal("+3"), 3);
    EXPECT_EQ(ReadDecimal("ab"), 0);
    EXPECT_EQ(ReadDecimal(""), 0);
}

TEST(VersionRecord, IsThisProgramsAnnouncedBuildWithEveryLengthInItsBlock) {
    EXPECT_TRUE(IsBuild(Record()));
    EXPECT_FALSE(IsBuild(Record(), 32));
    EXPECT_FALSE(IsBuild(Record(52, "\1"))) << "3.1.0.1";
    EXPECT_FALSE(IsBuild(Record(612, std::string("u\0n\0i\0n\0s\0t\0.\0e\0x\0e\0\0\0", 22)))) << "uninst.exe";
    EXPECT_FALSE(IsBuild(Record(578, "o"))) << "no OriginalFilename";
    EXPECT_FALSE(IsBuild(Record(40, "x"))) << "no fixed part's signature";
    for (size_t size = 0; size < Record().size(); ++size)
        EXPECT_FALSE(IsBuild(Record().substr(0, size))) << "cut at " << size;
    EXPECT_FALSE(IsBuild(Record(128, "\xD0\x07"))) << "a table longer than its parent";
    EXPECT_FALSE(IsBuild(Record(574, "\x28"))) << "a value past its block";
    EXPECT_FALSE(IsBuild(Record(884, "xxxx"))) << "a key unterminated to the end";
}
