// The update flow's network and file work: the version probe, the download, the signature check and the launch.
#include "update/update_checker.h"

#include <winsock2.h>
#include <shellapi.h>

#include "platform/program_path_win32.h"
#include "net/tcp_exchange.h"
#include "update/http_response.h"
#include "update/publisher_check.h"

namespace {

const unsigned short kHttpPort = 80;
// Connecting, the header, and each wait for the body: a stalled server ends the flow after this long.
const DWORD kWaitMs = 10000;
const int kProbeRequestSize = 512;
const int kDownloadRequestSize = 256;
const int kBlockSize = 1024;

// Sends the request and reads the response header; false unless the header arrived whole.
bool RequestHeader(SOCKET socket, SocketReader &reader, const char *request, char *header, int *headerLength) {
    const int length = lstrlenA(request);
    if (send(socket, request, length, 0) != length)
        return false;
    reader.WaitAtMost(kWaitMs);
    *headerLength = ReadHttpHeader(reader.Source(), header);
    return IsCompleteHeader(header, *headerLength);
}

struct ProbeExchange {
    const char *request;
    char body[UpdateChecker::kVersionPageSize];
    int bodyLength;
};

int ExchangeProbe(SOCKET socket, SocketReader &reader, void *context) {
    ProbeExchange &probe = *static_cast<ProbeExchange *>(context);
    char header[kHttpHeaderSize] = {};
    int headerLength = 0;
    if (!RequestHeader(socket, reader, probe.request, header, &headerLength))
        return 0;
    reader.WaitAtMost(kWaitMs);
    probe.bodyLength = ReceiveFull(reader.Source(), probe.body, sizeof probe.body);
    return 1;
}

// Writes exactly `expected` bytes of body into the file; never reads past them.
int ReceiveBody(SocketReader &reader, HANDLE file, long expected) {
    char block[kBlockSize];
    long total = 0;
    while (total < expected) {
        const int wanted = expected - total < kBlockSize ? static_cast<int>(expected - total) : kBlockSize;
        reader.WaitAtMost(kWaitMs);
        const int count = reader.Receive(block, wanted);
        if (count <= 0)
            return 0;
        DWORD written = 0;
        SetFilePointer(file, 0, nullptr, FILE_END);
        if (!WriteFile(file, block, static_cast<DWORD>(count), &written, nullptr) ||
            written != static_cast<DWORD>(count))
            return 0;
        total += count;
    }
    return 1;
}

struct DownloadExchange {
    UpdateChecker *checker;
    const char *request;
    const wchar_t *target;
};

int ExchangeDownload(SOCKET socket, SocketReader &reader, void *context) {
    DownloadExchange &download = *static_cast<DownloadExchange *>(context);
    char header[kHttpHeaderSize] = {};
    int headerLength = 0;
    if (!RequestHeader(socket, reader, download.request, header, &headerLength) ||
        ParseStatusCode(header, headerLength) != 200)
        return 0;
    const long length = ParseContentLength(header, headerLength);
    if (length <= 0)
        return 0;
    download.checker->expectedSize = static_cast<int32_t>(length);

    const HANDLE file =
        CreateFileW(download.target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    const int result = ReceiveBody(reader, file, length);
    CloseHandle(file);
    return result;
}

// The downloaded build's path beside the program; the file name is plain ASCII.
bool TargetPath(const char *fileName, wchar_t (&target)[kPathSize]) {
    wchar_t name[UpdateChecker::kTextSize] = {};
    return MultiByteToWideChar(CP_ACP, 0, fileName, -1, name, UpdateChecker::kTextSize) > 0 &&
           ProgramFileBeside(name, target, kPathSize);
}

} // namespace

void UpdateChecker::ProbeVersion() {
    char request[kProbeRequestSize] = {};
    if (!FormatHttpRequest(folder, page, host, request, sizeof request))
        return;
    ProbeExchange probe = {request, {}, 0};
    if (RunTcpExchange(host, kHttpPort, kWaitMs, ExchangeProbe, &probe))
        ApplyVersionPage(probe.body, probe.bodyLength);
}

int UpdateChecker::DownloadUpdate() {
    if (markerSeen == 0 || latestVersion == 0)
        return 0;
    char request[kDownloadRequestSize] = {};
    wchar_t target[kPathSize] = {};
    if (!FormatHttpRequest(folder, fileName, host, request, sizeof request) || !TargetPath(fileName, target))
        return 0;
    DownloadExchange download = {this, request, target};
    return RunTcpExchange(host, kHttpPort, kWaitMs, ExchangeDownload, &download);
}

bool UpdateChecker::VerifyDownload() {
    wchar_t target[kPathSize] = {};
    if (!TargetPath(fileName, target))
        return false;
    if (IsSignedBySamePublisher(target))
        return true;
    DeleteFileW(target);
    return false;
}

void UpdateChecker::LaunchUpdate() {
    wchar_t target[kPathSize] = {};
    if (markerSeen == 0 || expectedSize == 0 || !TargetPath(fileName, target))
        return;
    const HANDLE file = CreateFileW(target, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER size = {};
    const BOOL sized = GetFileSizeEx(file, &size);
    CloseHandle(file);
    if (sized && size.QuadPart == expectedSize)
        ShellExecuteW(nullptr, L"open", target, nullptr, nullptr, SW_SHOWNORMAL);
}
