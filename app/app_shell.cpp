// The window helpers shared by the main window and the background tasks: single instance, icon, status panes.
#include "app/app_shell.h"

#include <commctrl.h>

#include "platform/interface_text.h"
#include "platform/program_path_win32.h"
#include "res/resource.h"
#include "time/clock_report.h"
#include "time/time_client.h"

AppShell g_appShell;

namespace {

const char kWelcomeText[] = "欢迎使用!";
// Child and visible, with the low style bit the status bar has always been created with.
const DWORD kStatusBarStyle = 0x50000010;
const int kPaneRightEdges[] = {110, 240, -1};

} // namespace

bool AppShell::IsAlreadyRunning(HINSTANCE instance) {
    wchar_t path[kPathSize] = {};
    GetModuleFileNameW(instance, path, kPathSize);
    CreateMutexW(nullptr, TRUE, FileNamePart(path));
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

void AppShell::CreateStatusBar(HWND parent) {
    // CreateWindowEx rather than CreateStatusWindow, so that comctl32 need not be imported (it is no Known DLL).
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE));
    statusBar_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", kStatusBarStyle, 0, 0, 0, 0, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUSBAR)), instance, nullptr);
    SendMessageA(statusBar_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(kPaneRightEdges));
    SetPaneText(kMessagePane, kWelcomeText);
}

void AppShell::SetWindowIcon(HWND window, int icon) {
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
    const HICON loaded = LoadIconA(instance, MAKEINTRESOURCEA(icon));
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(loaded));
}

void AppShell::ShowClock() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char face[32] = {};
    FormatClockFace(ToCivilTime(now), face, sizeof face);
    SetPaneText(kClockPane, face);
}

void AppShell::SetPaneText(int pane, const char *text) {
    wchar_t wide[kInterfaceTextSize];
    InterfaceTextToWide(text, wide, kInterfaceTextSize);
    SendMessageW(statusBar_, SB_SETTEXTW, pane, reinterpret_cast<LPARAM>(wide));
}

void AppShell::OnShowWindow(HWND window, bool shown) {
    if (shown && minimiseWhenShown_) {
        minimiseWhenShown_ = false;
        PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    }
}
