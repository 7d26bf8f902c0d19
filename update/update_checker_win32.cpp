// The update flow's network and file work: the version probe, the download, the signature check and the launch.
#include "update/update_checker.h"

#include <winsock2.h>
#include <shellapi.h>

#include "net/tcp_exchange.h"
#include "platform/program_path_win32.h"
#include "update/held_file.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "update/publisher_check.h"
#include "update/version_record.h"

namespace {

const unsigned short kHttpPort = 80;
// Connecting, the header, and each wait for the body: a stalled server ends the flow after this long.
const DWORD kWaitMs = 10000;
const int kProbeRequestSize = 512;
const int kDownloadRequestSize = 256;
const int kBlockSize = 1024;
// The name every build's version record gives; the vendor's other signed files (the setup, its uninstaller) give
// theirs.
const char kProgramName[] = "Tempvaro.exe";

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

// Marks the file to be deleted when its last handle closes, or clears the mark.
bool MarkForDeletion(HANDLE file, bool deleted) {
    FILE_DISPOSITION_INFO disposition = {static_cast<BOOLEAN>(deleted)};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// Writes the body into a new file that nobody else may open meanwhile. Until the last byte is written the file is
// marked for deletion, so that a failed download, or the program closed or ended in the middle of one, leaves no
// partial file beside the program, not even for a moment.
int WriteDownload(SocketReader &reader, const wchar_t *target, long length) {
    OwnedHandle file(
        CreateFileW(target, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen())
        return 0;
    const bool marked = MarkForDeletion(file.Get(), true);
    int result = ReceiveBody(reader, file.Get(), length);
    if (result == 1 && marked && !MarkForDeletion(file.Get(), false))
        result = 0;
    file.Close();
    if (result == 0 && !marked) // a file system that cannot delete through the handle
        DeleteFileW(target);
    return result;
}

struct DownloadExchange {
    UpdateChecker *checker;
    const char *request;
    HeldFile *download;
};

int ExchangeDownload(SOCKET socket, SocketReader &reader, void *context) {
    DownloadExchange &exchange = *static_cast<DownloadExchange *>(context);
    char header[kHttpHeaderSize] = {};
    int headerLength = 0;
    if (!RequestHeader(socket, reader, exchange.request, header, &headerLength) ||
        ParseStatusCode(header, headerLength) != 200)
        return 0;
    const long length = ParseContentLength(header, headerLength);
    if (length <= 0)
        return 0;
    exchange.checker->expectedSize = static_cast<int32_t>(length);
    HeldFile &download = *exchange.download;
    if (!WriteDownload(reader, download.path, length))
        return 0;
    // A program cannot be started from a file that a handle holds with write access, so the writing handle is
    // closed and the file held again at once, for reading only and sharing nothing but reading. Whatever happens
    // in between, the signature check reads the file through this handle, so it judges exactly what is launched.
    download.file.Reset(CreateFileW(download.path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (download.IsOpen())
        return 1;
    DeleteFileW(download.path);
    return 0;
}

// Opens the file through the shell and returns only once it has been handed over, as this thread ends right after.
void StartProgram(const wchar_t *path) {
    SHELLEXECUTEINFOW start = {};
    start.cbSize = sizeof start;
    start.fMask = SEE_MASK_NOASYNC;
    start.lpVerb = L"open";
    start.lpFile = path;
    start.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&start);
}

// The downloaded build's path beside the program; the file name is plain ASCII.
bool TargetPath(const char *fileName, wchar_t (&target)[kPathSize]) {
    wchar_t name[UpdateChecker::kTextSize] = {};
    return MultiByteToWideChar(CP_ACP, 0, fileName, -1, name, UpdateChecker::kTextSize) > 0 &&
           ProgramFileBeside(name, target, kPathSize);
}

// Whether the file is build `build` of this program by its own version record. Its resources are mapped as data, so
// nothing of it runs, and version.dll, which is no Known DLL, is not needed.
bool IsProgramBuild(const wchar_t *path, int build) {
    const HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr)
        return false;
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16)); // RT_VERSION
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void *record = loaded ? LockResource(loaded) : nullptr;
    const bool matches = record && IsVersionRecordOf(static_cast<const unsigned char *>(record),
                                                     SizeofResource(module, found), build, kProgramName);
    FreeLibrary(module);
    return matches;
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

int UpdateChecker::DownloadUpdate(HeldFile &download) {
    if (markerSeen == 0 || latestVersion == 0)
        return 0;
    char request[kDownloadRequestSize] = {};
    if (!FormatHttpRequest(folder, fileName, host, request, sizeof request) || !TargetPath(fileName, download.path))
        return 0;
    DownloadExchange exchange = {this, request, &download};
    return RunTcpExchange(host, kHttpPort, kWaitMs, ExchangeDownload, &exchange);
}

bool UpdateChecker::VerifyDownload(HeldFile &download) {
    if (!download.IsOpen())
        return false;
    // Another file the vendor signed, or an older signed build, passes the publisher check: its record tells them
    // apart.
    if (IsSignedBySamePublisher(download.path, download.file.Get()) && IsProgramBuild(download.path, latestVersion))
        return true;
    download.Close();
    DeleteFileW(download.path);
    return false;
}

void UpdateChecker::LaunchUpdate(HeldFile &download) {
    LARGE_INTEGER size = {};
    if (markerSeen != 0 && expectedSize != 0 && download.IsOpen() && GetFileSizeEx(download.file.Get(), &size) &&
        size.QuadPart == expectedSize)
        StartProgram(download.path);
    // The new build is running from its own image now, or was not started.
    download.Close();
}
