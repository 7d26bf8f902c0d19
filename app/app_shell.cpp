// The window helpers shared by the main window and the background tasks: single instance, icon, status panes.
#include "app/app_shell.h"

#include <commctrl.h>

#include "app/program_path.h"
#include "res/resource.h"
#include "time/clock_report.h"
#include "time/time_client.h"

AppShell g_appShell;
HWND g_mainWindow = nullptr;

namespace {

const char kWelcomeText[] = "欢迎使用!";
// Child and visible, with the low style bit the status bar has always been created with.
const DWORD kStatusBarStyle = 0x50000010;
const int kPaneRightEdges[] = {110, 240, -1};
const size_t kPathSize = 256;

} // namespace

bool ProgramFilePath(char *path, DWORD size) {
    const DWORD length = GetModuleFileNameA(nullptr, path, size);
    return length > 0 && length < size;
}

bool ProgramFileBeside(const char *name, char *path, size_t size) {
    char program[kPathSize] = {};
    return ProgramFilePath(program, sizeof program) && PathBeside(program, name, path, size);
}

bool AppShell::IsAlreadyRunning(HINSTANCE instance) {
    char path[kPathSize] = {};
    GetModuleFileNameA(instance, path, sizeof path);
    CreateMutexA(nullptr, TRUE, FileNamePart(path));
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

void AppShell::CreateStatusBar(HWND parent) {
    statusBar_ = CreateStatusWindowA(kStatusBarStyle, "", parent, IDC_STATUSBAR);
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
    SendMessageA(statusBar_, SB_SETTEXTA, pane, reinterpret_cast<LPARAM>(text));
}

void AppShell::OnShowWindow(HWND window, bool shown) {
    if (shown && minimiseWhenShown_) {
        minimiseWhenShown_ = false;
        PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    }
}
