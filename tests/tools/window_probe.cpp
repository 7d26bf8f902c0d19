// Test helper that inspects and drives another process's windows: status panes, controls, commands and keys.
//
// Usage: window_probe SUBCOMMAND [ARG] [--title TITLE] [--pid PID]
//   list [--all]             top-level windows: pid, handle, visible, class, title (visible ones unless --all)
//   count TITLE [--visible]  number of top-level windows with exactly this title
//   panes [--fit]            one line per status bar pane: its text, or its width and its text's width (tab-separated)
//   children                 child controls: id, class, check state (0/1/2, "-" if not a check box), text
//   state                    "iconic visible" as two 0/1 flags
//   command ID               posts WM_COMMAND ID to the window
//   click ID                 posts BM_CLICK to the window's control ID, as a mouse click on it would
//   settext ID=TEXT          sets the text of the window's control ID
//   key enter|esc|space      posts the key to the window's focused control (or to the window)
//   close                    posts WM_CLOSE to the window
//   holdlock                 makes the clock lock's global mutex first, open to no one, prints "held", waits
// The window is the first top-level one titled TITLE (default "Tempvaro"), of process PID when given.
// Output is UTF-8. Exit codes: 0 done, 1 bad usage, 2 window not found, 3 the window did not respond.
#include <windows.h>
#include <commctrl.h>
#include <sddl.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

const int kExitUsage = 1;
const int kExitNotFound = 2;
const int kExitNoResponse = 3;
const UINT kReplyTimeoutMs = 5000;
const int kStatusBarId = 888;
const int kMaxPanes = 16;
const wchar_t kUsage[] =
    L"usage: window_probe list [--all] | count TITLE [--visible] | panes [--fit] | children | state | "
    L"command ID | click ID | settext ID=TEXT | key enter|esc|space | close | resume   [--title TITLE] [--pid PID]";

void WriteUtf8(const std::wstring &text) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void WriteLine(const std::wstring &text) {
    WriteUtf8(text + L"\n");
}

int Fail(int code, const std::wstring &message) {
    const std::wstring line = L"window_probe: " + message + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(size - 1), &written, nullptr);
    return code;
}

std::wstring WindowTitle(HWND window) {
    // WM_GETTEXT is marshalled between processes, unlike the status bar messages.
    wchar_t title[512] = {};
    GetWindowTextW(window, title, 512);
    return title;
}

std::wstring WindowClass(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

DWORD WindowProcess(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

// A named callback: a lambda has no stdcall conversion on 32-bit x86.
BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    reinterpret_cast<std::vector<HWND> *>(context)->push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

struct Options {
    std::wstring subcommand;
    std::wstring argument;
    std::wstring title = L"Tempvaro";
    DWORD pid = 0;
    bool all = false;
    bool visibleOnly = false;
    bool fit = false;
};

HWND FindTarget(const Options &options) {
    for (const HWND window : TopLevelWindows()) {
        if (WindowTitle(window) != options.title)
            continue;
        if (options.pid != 0 && WindowProcess(window) != options.pid)
            continue;
        return window;
    }
    return nullptr;
}

std::wstring Hex(UINT_PTR value) {
    wchar_t text[32] = {};
    swprintf(text, 32, L"0x%llx", static_cast<unsigned long long>(value));
    return text;
}

int ListWindows(const Options &options) {
    for (const HWND window : TopLevelWindows()) {
        const bool visible = IsWindowVisible(window) != FALSE;
        if (!visible && !options.all)
            continue;
        WriteLine(std::to_wstring(WindowProcess(window)) + L"\t" + Hex(reinterpret_cast<UINT_PTR>(window)) + L"\t" +
                  (visible ? L"1" : L"0") + L"\t" + WindowClass(window) + L"\t" + WindowTitle(window));
    }
    return 0;
}

int CountWindows(const Options &options) {
    int count = 0;
    for (const HWND window : TopLevelWindows()) {
        if (WindowTitle(window) != options.argument)
            continue;
        if (options.visibleOnly && !IsWindowVisible(window))
            continue;
        if (options.pid != 0 && WindowProcess(window) != options.pid)
            continue;
        ++count;
    }
    WriteLine(std::to_wstring(count));
    return 0;
}

bool SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR *result) {
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kReplyTimeoutMs, result) != 0;
}

// A buffer inside the target process, for messages whose pointers the system does not marshal.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, size_t size) : process_(process), size_(size) {
        address_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (address_ != nullptr)
            VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteBuffer(const RemoteBuffer &) = delete;
    RemoteBuffer &operator=(const RemoteBuffer &) = delete;

    bool Valid() const { return address_ != nullptr; }
    LPARAM Address() const { return reinterpret_cast<LPARAM>(address_); }
    bool Read(void *local) const {
        SIZE_T copied = 0;
        return ReadProcessMemory(process_, address_, local, size_, &copied) && copied == size_;
    }

private:
    HANDLE process_;
    size_t size_;
    void *address_ = nullptr;
};

// "width<TAB>text width": a font handle cannot be read from another process, so the text is measured in the system's
// status font, which the probe sees at the program's DPI, both being DPI-aware.
std::wstring PaneFit(HWND statusBar, HANDLE process, int pane, const wchar_t *text) {
    RECT rect = {};
    RemoteBuffer remote(process, sizeof rect);
    DWORD_PTR ignored = 0;
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    const HFONT font = CreateFontIndirectW(&metrics.lfStatusFont);
    const HDC dc = GetDC(nullptr);
    const HGDIOBJ previous = SelectObject(dc, font);
    SIZE size = {};
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    if (!remote.Valid() || !SendWithin(statusBar, SB_GETRECT, pane, remote.Address(), &ignored) || !remote.Read(&rect))
        return L"?";
    return std::to_wstring(rect.right - rect.left) + L"\t" + std::to_wstring(size.cx);
}

int PrintPanes(const Options &options) {
    const HWND window = FindTarget(options);
    if (window == nullptr)
        return Fail(kExitNotFound, L"no window titled \"" + options.title + L"\"");
    const HWND statusBar = GetDlgItem(window, kStatusBarId);
    if (statusBar == nullptr)
        return Fail(kExitNotFound, L"the window has no status bar");
    DWORD_PTR parts = 0;
    if (!SendWithin(statusBar, SB_GETPARTS, 0, 0, &parts))
        return Fail(kExitNoResponse, L"the status bar did not answer");
    const int paneCount = parts > static_cast<DWORD_PTR>(kMaxPanes) ? kMaxPanes : static_cast<int>(parts);

    const HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, WindowProcess(window));
    if (process == nullptr)
        return Fail(kExitNoResponse, L"cannot open the window's process");
    int status = 0;
    for (int pane = 0; pane < paneCount && status == 0; ++pane) {
        DWORD_PTR length = 0;
        if (!SendWithin(statusBar, SB_GETTEXTLENGTHW, pane, 0, &length)) {
            status = Fail(kExitNoResponse, L"the status bar did not answer");
            break;
        }
        // Room for more than was asked for: the text may change between the two messages.
        const size_t characters = LOWORD(length) + 1 + 512;
        RemoteBuffer buffer(process, characters * sizeof(wchar_t));
        std::vector<wchar_t> text(characters, L'\0');
        DWORD_PTR ignored = 0;
        if (!buffer.Valid() || !SendWithin(statusBar, SB_GETTEXTW, pane, buffer.Address(), &ignored) ||
            !buffer.Read(text.data())) {
            status = Fail(kExitNoResponse, L"cannot read pane " + std::to_wstring(pane));
            break;
        }
        text.back() = L'\0';
        WriteLine(options.fit ? PaneFit(statusBar, process, pane, text.data()) : text.data());
    }
    CloseHandle(process);
    return status;
}

std::wstring CheckState(HWND control) {
    if (WindowClass(control) != L"Button")
        return L"-";
    const LONG_PTR type = GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK;
    if (type != BS_CHECKBOX && type != BS_AUTOCHECKBOX && type != BS_3STATE && type != BS_AUTO3STATE)
        return L"-";
    DWORD_PTR state = 0;
    if (!SendWithin(control, BM_GETCHECK, 0, 0, &state))
        return L"?";
    return std::to_wstring(state);
}

int PrintChildren(const Options &options) {
    const HWND window = FindTarget(options);
    if (window == nullptr)
        return Fail(kExitNotFound, L"no window titled \"" + options.title + L"\"");
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        // Sent, not GetWindowTextW: that reads another process's edit box as it was made, not as it is.
        wchar_t text[512] = {};
        DWORD_PTR ignored = 0;
        SendWithin(child, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), &ignored);
        WriteLine(std::to_wstring(id) + L"\t" + WindowClass(child) + L"\t" + CheckState(child) + L"\t" + text);
    }
    return 0;
}

int PrintState(const Options &options) {
    const HWND window = FindTarget(options);
    if (window == nullptr)
        return Fail(kExitNotFound, L"no window titled \"" + options.title + L"\"");
    WriteLine(std::wstring(IsIconic(window) ? L"1" : L"0") + L" " + (IsWindowVisible(window) ? L"1" : L"0"));
    return 0;
}

bool ParseNumber(const std::wstring &text, unsigned long *value) {
    if (text.empty())
        return false;
    wchar_t *end = nullptr;
    *value = wcstoul(text.c_str(), &end, 0);
    return end != nullptr && *end == L'\0';
}

int PostCommand(const Options &options) {
    unsigned long id = 0;
    if (!ParseNumber(options.argument, &id) || id > 0xFFFF)
        return Fail(kExitUsage, L"command needs a numeric id");
    const HWND window = FindTarget(options);
    if (window == nullptr)
        return Fail(kExitNotFound, L"no window titled \"" + options.title + L"\"");
    // Posted, so that a command that opens a modal box does not block the probe.
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return 0;
}

int PostClick(const Options &options) {
    unsigned long id = 0;
    if (!ParseNumber(options.argument, &id) || id > 0xFFFF)
        return Fail(kExitUsage, L"click needs a numeric id");
    const HWND window = FindTarget(options);
    if (window == nullptr)
        return Fail(kExitNotFound, L"no window titled \"" + options.title + L"\"");
    const HWND control = GetDlgItem(window, static_cast<int>(id));
    if (control == nullptr)
        return Fail(kExitNotFound, L"the window has no control " + options.argument);
    // Posted, like the commands: a click that opens a modal box must not block the probe.
    PostMessageW(control, BM_CLICK, 0, 0);
    return 0;
}

int SetControlText(const Options &options) {
    const size_t equals = options.argument.find(L'=');
    unsigned long id = 0;
    const HWND window = FindTarget(options);
    if (equals == std::wstring::npos || !ParseNumber(options.argument.substr(0, equals), &id) || window == nullptr)
        return Fail(kExitUsage, L"settext needs ID=TEXT and the window");
    // Sent as WM_SETTEXT, which is marshalled between processes.
    if (!SetDlgItemTextW(window, static_cast<int>(id), options.argument.c_str() + equals + 1))
        return Fail(kExitNotFound, L"cannot set the text of control " + options.argument);
    return 0;
}

int PostKey(const Options &options) {
    WPARAM key = 0;
    if (options.argument == L"enter")
        key = VK_RETURN;
    else if (options.argument == L"esc")
        key = VK_ESCAPE;
    else if (options.argument == L"space")
        key = VK_SPACE;
    else
        return Fail(kExitUsage, L"key must be enter, esc or space");
    const HWND window = FindTarget(options);
    if (window == nullptr)
        return Fail(kExitNotFound, L"no window titled \"" + options.title + L"\"");
    // A dialog's keys reach it through the control that has the focus, as typed keys do.
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = window;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus != nullptr &&
        (info.hwndFocus == window || IsChild(window, info.hwndFocus)))
        target = info.hwndFocus;
    const UINT scan = MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, key, 1 | (static_cast<LPARAM>(scan) << 16));
    PostMessageW(target, WM_KEYUP, key, 1 | (static_cast<LPARAM>(scan) << 16) | (3L << 30));
    return 0;
}

// Closes the window, or tells it that Windows has resumed from sleep.
int PostToWindow(const Options &options, UINT message, WPARAM wParam) {
    const HWND window = FindTarget(options);
    if (window == nullptr)
        return Fail(kExitNotFound, L"no window titled \"" + options.title + L"\"");
    PostMessageW(window, message, wParam, 0);
    return 0;
}

bool ParseOptions(int argc, wchar_t **argv, Options *options) {
    if (argc < 2)
        return false;
    options->subcommand = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::wstring word = argv[i];
        if (word == L"--title" && i + 1 < argc) {
            options->title = argv[++i];
        } else if (word == L"--pid" && i + 1 < argc) {
            unsigned long pid = 0;
            if (!ParseNumber(argv[++i], &pid) || pid == 0)
                return false;
            options->pid = static_cast<DWORD>(pid);
        } else if (word == L"--all") {
            options->all = true;
        } else if (word == L"--visible") {
            options->visibleOnly = true;
        } else if (word == L"--fit") {
            options->fit = true;
        } else if (options->argument.empty() && word.compare(0, 2, L"--") != 0) {
            options->argument = word;
        } else {
            return false;
        }
    }
    return true;
}

// As a standard user could where there is no private namespace: a lock of the program's global name, first.
int HoldClockLock() {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1, &attributes.lpSecurityDescriptor,
                                                              nullptr) ||
        CreateMutexW(&attributes, FALSE, L"Global\\Tempvaro-ClockLock") == nullptr)
        return Fail(kExitNotFound, L"the lock could not be made");
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &written, nullptr);
    Sleep(INFINITE);
    return 0;
}

int Run(const Options &options) {
    if (options.subcommand == L"list")
        return ListWindows(options);
    if (options.subcommand == L"count" && !options.argument.empty())
        return CountWindows(options);
    if (options.subcommand == L"panes")
        return PrintPanes(options);
    if (options.subcommand == L"children")
        return PrintChildren(options);
    if (options.subcommand == L"state")
        return PrintState(options);
    if (options.subcommand == L"command")
        return PostCommand(options);
    if (options.subcommand == L"click" && !options.argument.empty())
        return PostClick(options);
    if (options.subcommand == L"settext")
        return SetControlText(options);
    if (options.subcommand == L"key")
        return PostKey(options);
    if (options.subcommand == L"holdlock")
        return HoldClockLock();
    if (options.subcommand == L"close")
        return PostToWindow(options, WM_CLOSE, 0);
    if (options.subcommand == L"resume")
        return PostToWindow(options, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
    return Fail(kExitUsage, kUsage);
}

} // namespace

int main() {
    SetProcessDPIAware();
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    Options options;
    if (argv == nullptr || !ParseOptions(argc, argv, &options))
        return Fail(kExitUsage, kUsage);
    const int status = Run(options);
    LocalFree(argv);
    return status;
}
