// The main window: a modal dialog whose handler starts every user action and background task.
#include "app/main_dialog.h"

#include "app/about/about_dialog.h"
#include "app/app_shell.h"
#include "app/clock_tasks.h"
#include "app/settings_boxes.h"
#include "app/start_task.h"
#include "app/time_servers_dialog.h"
#include "res/resource.h"
#include "update/update_task.h"

namespace {

const UINT_PTR kClockTimer = 1;
const UINT kClockPeriodMs = 1000;

void OnInitDialog(HWND window) {
    g_appShell.SetWindowIcon(window, IDI_MAIN);
    StartTask(UpdateTask, window);
    g_appShell.CreateStatusBar(window);
    if (ApplySettings(window))
        g_appShell.MinimiseWhenShown();
    StartTask(StartupCheckTask, nullptr);
    SetTimer(window, kClockTimer, kClockPeriodMs, nullptr);
}

void OnCommand(HWND window, WORD command) {
    switch (command) {
    case IDOK:
        StartTask(ManualSyncTask, nullptr);
        break;
    case IDCANCEL:
        EndDialog(window, IDCANCEL);
        break;
    case IDC_SAVE:
        SaveSettings(window);
        break;
    case ID_TIMESERVERS:
        ShowTimeServersDialog(window);
        break;
    case ID_GUESTBOOK:
        OpenGuestbook();
        break;
    case ID_ABOUT:
        ShowAboutDialog(window);
        break;
    default:
        break;
    }
}

} // namespace

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(window);
        break;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        break;
    case kLogonStartReadMessage:
        ShowLogonStartRead(window, wParam);
        break;
    case WM_TIMER:
        g_appShell.ShowClock();
        ResyncIfDue();
        break;
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMRESUMEAUTOMATIC)
            ResyncAfterResume();
        break;
    case WM_SHOWWINDOW:
        g_appShell.OnShowWindow(window, wParam != FALSE);
        break;
    case WM_DPICHANGED:
        g_appShell.OnDpiChanged(window, reinterpret_cast<const RECT *>(lParam));
        break;
    case WM_DESTROY:
        g_appShell.OnDestroy(window);
        break;
    default:
        break;
    }
    return 0;
}
