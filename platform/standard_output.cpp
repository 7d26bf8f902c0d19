// Text from a program without a window: to its redirected standard output, else to its parent's console.
#include "platform/standard_output.h"

#include <winioctl.h>
#include <winternl.h>

#include "platform/interface_text.h"
#include "platform/system_library.h"

namespace {

// Room for one written piece in UTF-8: at most three bytes for each character of an interface text.
const int kUtf8Size = kInterfaceTextSize * 3;

typedef NTSTATUS(NTAPI *QueryVolumeFunction)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FS_INFORMATION_CLASS);

// NUL or a serial port: asked of the device, since an inherited console handle fails GetConsoleMode too until the
// program attaches. Windows 7's console handles are no kernel handles: the question fails, and they count as console.
bool IsCharacterDeviceButNoConsole(HANDLE output) {
    const QueryVolumeFunction query = SystemFunction<QueryVolumeFunction>(L"ntdll.dll", "NtQueryVolumeInformationFile");
    IO_STATUS_BLOCK status;
    FILE_FS_DEVICE_INFORMATION device;
    return query && query(output, &status, &device, sizeof device, FileFsDeviceInformation) >= 0 &&
           device.DeviceType != FILE_DEVICE_CONSOLE;
}

} // namespace

void StandardOutput::Open() {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    const DWORD type = output != nullptr && output != INVALID_HANDLE_VALUE ? GetFileType(output) : FILE_TYPE_UNKNOWN;
    DWORD mode;
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) {
        target_ = output;
    } else if (type == FILE_TYPE_CHAR && IsCharacterDeviceButNoConsole(output)) {
        // `>nul` asks for silence, not the console.
    } else if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        // A windowed program gets no handles of the console it attaches to: it opens the console's output itself.
        parentConsole_.Reset(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
        if (parentConsole_.IsOpen())
            target_ = parentConsole_.Get();
    } else if (type == FILE_TYPE_CHAR) {
        // A console the program already has (Wine gives a windowed program its parent's).
        target_ = output;
    }
    console_ = target_ != nullptr && GetConsoleMode(target_, &mode);
}

void StandardOutput::Write(const wchar_t *text) const {
    if (target_ == nullptr)
        return;
    DWORD written;
    if (console_) {
        DWORD length = 0;
        while (text[length] != L'\0')
            ++length;
        WriteConsoleW(target_, text, length, &written, nullptr);
        return;
    }
    char utf8[kUtf8Size];
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (length > 1)
        WriteFile(target_, utf8, static_cast<DWORD>(length - 1), &written, nullptr);
}

void StandardOutput::WriteText(const char *text, bool endLine) const {
    wchar_t wide[kInterfaceTextSize];
    if (InterfaceTextToWide(text, wide, kInterfaceTextSize))
        Write(wide);
    if (endLine)
        Write(L"\r\n");
}
