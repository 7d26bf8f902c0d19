// The version probe and the download against a fake vendor server on loopback, including one that misbehaves.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "fake_web_server.h"
#include "update/held_file.h"
#include "update/update_checker.h"

namespace {

const char kHost[] = "www.tempvaro.example";
const DWORD kBoundMs = 10000;

std::string TargetPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string program = path;
    return program.substr(0, program.rfind('\\')) + "\\Chronvik.exe";
}

// The downloaded file's size, or -1 when there is none.
long long TargetSize() {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(TargetPath().c_str(), GetFileExInfoStandard, &data))
        return -1;
    return static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

class UpdateCheckerTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteFileA(TargetPath().c_str());
        ASSERT_TRUE(server_.Start());
        checker_.SetSource(kHost, "/soft/Chronvik/", "Chronvik.asp?id=711", "Chronvik.exe");
    }
    void TearDown() override {
        server_.Stop();
        download_.Close();
        DeleteFileA(TargetPath().c_str());
    }
    void OfferVersionPage(const char *body) { server_.SetVersionPage({HttpResponse("200 OK", "", body)}); }
    // Probes and downloads; returns the download's result.
    int ProbeAndDownload(const WebResponse &download) {
        OfferVersionPage("zq32");
        server_.SetDownload(download);
        checker_.ProbeVersion();
        EXPECT_EQ(checker_.CompareVersion(CURRENT_VERSION), kVersionNewer);
        download_.Close();
        return checker_.DownloadUpdate(download_);
    }

    FakeWebServer server_;
    UpdateChecker checker_;
    HeldFile download_;
};

ULONGLONG MillisecondsSince(ULONGLONG start) {
    return GetTickCount64() - start;
}

} // namespace

TEST_F(UpdateCheckerTest, ProbeSendsTheRequestAndReadsTheVersionPage) {
    OfferVersionPage("zq31");
    checker_.ProbeVersion();
    EXPECT_EQ(checker_.CompareVersion(CURRENT_VERSION), kVersionCurrent);
    ASSERT_EQ(server_.requests.size(), 1u);
    EXPECT_EQ(server_.requests[0], "GET /soft/Chronvik/Chronvik.asp?id=711 HTTP/1.1\r\nHost:www.tempvaro.example\r\n"
                                   "Accept:*/*\r\nUser-Agent:Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n"
                                   "Connection:Keep-Alive\r\n\r\n");
}

TEST_F(UpdateCheckerTest, ProbeReadsAShortVersionPage) {
    server_.SetVersionPage({HttpResponse("200 OK", "", "zq")});
    checker_.ProbeVersion();
    EXPECT_EQ(checker_.markerSeen, 1);
    EXPECT_EQ(checker_.CompareVersion(CURRENT_VERSION), kVersionUnknown) << "no number after the marker";
}

TEST_F(UpdateCheckerTest, ProbeEndsWithinTheBoundWhenTheServerStalls) {
    const std::string page = HttpResponse("200 OK", "", "zq32");
    for (size_t stall : {size_t{5}, page.size() - 4}) { // in the header, then before the body
        UpdateChecker checker;
        checker.SetSource(kHost, "/soft/Chronvik/", "Chronvik.asp?id=711", "Chronvik.exe");
        server_.SetVersionPage({page, stall});
        const ULONGLONG start = GetTickCount64();
        checker.ProbeVersion();
        EXPECT_LE(MillisecondsSince(start), kBoundMs + 1500);
        EXPECT_EQ(checker.CompareVersion(CURRENT_VERSION), kVersionUnknown);
        server_.Stop();
        ASSERT_TRUE(server_.Start());
    }
}

TEST_F(UpdateCheckerTest, NoServerMeansNoInformation) {
    server_.Stop();
    checker_.ProbeVersion();
    EXPECT_EQ(checker_.CompareVersion(CURRENT_VERSION), kVersionUnknown);
    EXPECT_EQ(checker_.DownloadUpdate(download_), 0);
}

TEST_F(UpdateCheckerTest, TheNextAddressIsAskedWhenOneRefuses) {
    OfferVersionPage("zq31");
    for (const char *address : {"127.0.0.2", "127.0.0.16"}) { // two.tempvaro.test's, in whichever order they come
        server_.Stop();
        ASSERT_TRUE(server_.Listen(address, 80));
        checker_.SetSource("two.tempvaro.test", "/soft/Chronvik/", "Chronvik.asp?id=711", "Chronvik.exe");
        checker_.latestVersion = 0;
        checker_.ProbeVersion();
        EXPECT_EQ(checker_.latestVersion, 31) << address;
    }
}

TEST_F(UpdateCheckerTest, DownloadsExactlyTheAnnouncedBytes) {
    const std::string body(300000, 'b');
    EXPECT_EQ(ProbeAndDownload({HttpResponse("200 OK", "Content-Length: 300000\r\n", body)}), 1);
    EXPECT_EQ(TargetSize(), 300000);
    EXPECT_EQ(checker_.expectedSize, 300000);
    ASSERT_EQ(server_.requests.size(), 2u);
    EXPECT_EQ(server_.requests[1].rfind("GET /soft/Chronvik/Chronvik.exe HTTP/1.1\r\n", 0), 0u);
}

TEST_F(UpdateCheckerTest, ABodyLongerThanAnnouncedIsCutAtTheLength) {
    EXPECT_EQ(ProbeAndDownload({HttpResponse("200 OK", "Content-Length: 1000\r\n", std::string(5000, 'b'))}), 1);
    EXPECT_EQ(TargetSize(), 1000);
    // Not signed by our publisher (this test program is not signed at all): deleted, never offered.
    EXPECT_FALSE(checker_.VerifyDownload(download_));
    EXPECT_EQ(TargetSize(), -1);
}

TEST_F(UpdateCheckerTest, RefusedDownloadsCreateNoFile) {
    const struct {
        const char *what;
        std::string response;
    } cases[] = {
        {"not found", HttpResponse("404 Not Found", "Content-Length: 4\r\n", "nope")},
        {"length 0", HttpResponse("200 OK", "Content-Length: 0\r\n", "")},
        {"no length", HttpResponse("200 OK", "", "MZ")},
        {"negative length", HttpResponse("200 OK", "Content-Length: -1\r\n", "MZ")},
        {"header over 1024 bytes", HttpResponse("200 OK", "X-Pad: " + std::string(1100, 'p') + "\r\n", "MZ")},
        {"short status line", "HTTP/1.\r\n\r\n"},
    };
    for (const auto &c : cases) {
        UpdateChecker checker;
        checker.SetSource(kHost, "/soft/Chronvik/", "Chronvik.asp?id=711", "Chronvik.exe");
        checker.markerSeen = 1;
        checker.latestVersion = 32;
        server_.SetDownload({c.response});
        HeldFile download;
        EXPECT_EQ(checker.DownloadUpdate(download), 0) << c.what;
        EXPECT_EQ(TargetSize(), -1) << c.what;
    }
}

TEST_F(UpdateCheckerTest, ATargetThatCannotBeCreatedFails) {
    ASSERT_TRUE(CreateDirectoryA(TargetPath().c_str(), nullptr)); // a directory in the file's place
    EXPECT_EQ(ProbeAndDownload({HttpResponse("200 OK", "Content-Length: 4\r\n", "MZ..")}), 0);
    EXPECT_EQ(GetFileAttributesA(TargetPath().c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD{FILE_ATTRIBUTE_DIRECTORY});
    RemoveDirectoryA(TargetPath().c_str());
}

TEST_F(UpdateCheckerTest, ABodyThatStopsEarlyFailsWithinTheBoundAndLeavesNoFile) {
    const std::string response = HttpResponse("200 OK", "Content-Length: 4096\r\n", std::string(4096, 'b'));
    EXPECT_EQ(ProbeAndDownload({response.substr(0, response.size() - 1000)}), 0) << "closed early";
    EXPECT_EQ(TargetSize(), -1) << "closed early";

    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(ProbeAndDownload({response, response.size() - 1000}), 0) << "stalled";
    EXPECT_LE(MillisecondsSince(start), kBoundMs + 1500);
    EXPECT_EQ(TargetSize(), -1) << "stalled";
}

TEST_F(UpdateCheckerTest, NothingIsDownloadedWithoutAMarker) {
    OfferVersionPage("ZQ32");
    checker_.ProbeVersion();
    EXPECT_EQ(checker_.DownloadUpdate(download_), 0);
    EXPECT_EQ(server_.requests.size(), 1u);
}
