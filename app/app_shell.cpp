// The window helpers shared by the main window and the background tasks: single instance, icon, status panes.
#include "app/app_shell.h"

#include <commctrl.h>

#include "app/pane_edges.h"
#include "platform/interface_text.h"
#include "platform/program_path_win32.h"
#include "platform/window_dpi.h"
#include "res/resource.h"
#include "time/clock_report.h"
#include "time/time_client.h"

AppShell g_appShell;

namespace {

const char kWelcomeText[] = "欢迎使用!";
// Child and visible, with the low style bit the status bar has always been created with.
const DWORD kStatusBarStyle = 0x50000010;

// Sets one of the window's icons and destroys the one it replaces.
void ReplaceIcon(HWND window, WPARAM which, HANDLE icon) {
    const HICON previous =
        reinterpret_cast<HICON>(SendMessageW(window, WM_SETICON, which, reinterpret_cast<LPARAM>(icon)));
    if (previous != nullptr)
        DestroyIcon(previous);
}

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
    statusBarProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(statusBar_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusBarProc)));
    FitToDpi(parent);
    SetPaneText(kMessagePane, kWelcomeText);
}

void AppShell::SetWindowIcon(HWND window, int icon) {
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    const UINT dpi = WindowDpi(window);
    const struct {
        WPARAM which;
        int sizeMetric;
    } kIcons[] = {{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}};
    for (const auto &kind : kIcons) {
        const int size = SystemMetricForDpi(kind.sizeMetric, dpi);
        ReplaceIcon(window, kind.which, LoadImageW(instance, MAKEINTRESOURCEW(icon), IMAGE_ICON, size, size, 0));
    }
}

void AppShell::OnDpiChanged(HWND window, const RECT *suggested) {
    SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowIcon(window, IDI_MAIN);
    FitToDpi(window);
}

void AppShell::OnDestroy(HWND window) {
    ReplaceIcon(window, ICON_BIG, nullptr);
    ReplaceIcon(window, ICON_SMALL, nullptr);
    UseFont(nullptr);
}

void AppShell::FitToDpi(HWND window) {
    dpi_ = WindowDpi(window);
    UseFont(CreateStatusFont(dpi_));
    // The bar takes its height from its font and its width from the window when it is told of a size change.
    SendMessageW(statusBar_, WM_SIZE, SIZE_RESTORED, 0);
    FitPanes();
}

void AppShell::UseFont(HFONT font) {
    // Redrawn with a new font; none is only given as the window goes.
    SendMessageW(statusBar_, WM_SETFONT, reinterpret_cast<WPARAM>(font), font != nullptr);
    if (font_ != nullptr)
        DeleteObject(font_);
    font_ = font;
}

void AppShell::FitPanes() {
    int widths[kPaneCount];
    const HDC dc = GetDC(statusBar_);
    const HGDIOBJ previousFont =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(statusBar_, WM_GETFONT, 0, 0)));
    for (int pane = 0; pane < kPaneCount; ++pane) {
        // Every text comes through SetPaneText, so it fits this buffer.
        wchar_t text[kInterfaceTextSize];
        SIZE size = {};
        GetTextExtentPoint32W(
            dc, text, LOWORD(SendMessageW(statusBar_, SB_GETTEXTW, pane, reinterpret_cast<LPARAM>(text))), &size);
        widths[pane] = size.cx;
    }
    SelectObject(dc, previousFont);
    ReleaseDC(statusBar_, dc);

    RECT bar = {};
    GetClientRect(statusBar_, &bar);
    int edges[kPaneCount];
    FitPaneEdges(widths, bar.right, static_cast<int>(dpi_), edges);
    // Only a change is sent: the clock pane is written every second.
    int current[kPaneCount] = {};
    SendMessageW(statusBar_, SB_GETPARTS, kPaneCount, reinterpret_cast<LPARAM>(current));
    if (current[0] != edges[0] || current[1] != edges[1] || current[2] != edges[2])
        SendMessageW(statusBar_, SB_SETPARTS, kPaneCount, reinterpret_cast<LPARAM>(edges));
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

LRESULT CALLBACK AppShell::StatusBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = CallWindowProcW(g_appShell.statusBarProc_, bar, message, wParam, lParam);
    if (message == SB_SETTEXTW)
        g_appShell.FitPanes();
    return result;
}

void AppShell::OnShowWindow(HWND window, bool shown) {
    if (shown && minimiseWhenShown_) {
        minimiseWhenShown_ = false;
        PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    }
}
