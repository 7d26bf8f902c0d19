// The main window: a modal dialog whose handler starts every user action and background task.
#include "app/main_dialog.h"

#include "app/about/about_dialog.h"
#include "app/app_shell.h"
#include "app/clock_tasks.h"
#include "app/settings_boxes.h"
#include "app/start_task.h"
#include "app/time_servers_dialog.h"
#include "app/wake_rule.h"
#include "platform/system_library.h"
#include "res/resource.h"
#include "update/update_task.h"

namespace {

const UINT_PTR kClockTimer = 1;
const UINT kClockPeriodMs = 1000;

typedef HPOWERNOTIFY(WINAPI *RegisterSuspendResumeFunction)(HANDLE, DWORD);

WakeRule g_wakes;

// Windows 7 knows neither the display state nor the registration for suspend and resume (Windows 8 on); its resume
// broadcast reaches every window anyway. Both registrations last as long as the window, which is the program's life:
// Windows drops them with the process.
void WatchForWakes(HWND window) {
    RegisterPowerSettingNotification(window, &GUID_CONSOLE_DISPLAY_STATE, DEVICE_NOTIFY_WINDOW_HANDLE);
    const RegisterSuspendResumeFunction registerSuspendResume =
        SystemFunction<RegisterSuspendResumeFunction>(L"user32.dll", "RegisterSuspendResumeNotification");
    if (registerSuspendResume)
        registerSuspendResume(window, DEVICE_NOTIFY_WINDOW_HANDLE);
}

// Every signal goes through one rule, so that the several signals of one wake give one set.
void OnWakeSignal(WakeSignal signal) {
    if (g_wakes.IsNewWake(signal, static_cast<uint32_t>(GetTickCount64())))
        ResyncAfterResume();
}

void OnPowerBroadcast(WPARAM event, LPARAM data) {
    const POWERBROADCAST_SETTING *setting = reinterpret_cast<const POWERBROADCAST_SETTING *>(data);
    // Every resume brings PBT_APMRESUMEAUTOMATIC, one the user started PBT_APMRESUMESUSPEND after it too.
    if (event == PBT_APMRESUMEAUTOMATIC)
        OnWakeSignal(kSignalResume);
    else if (event == PBT_POWERSETTINGCHANGE && IsEqualGUID(setting->PowerSetting, GUID_CONSOLE_DISPLAY_STATE) &&
             setting->DataLength >= sizeof(DWORD))
        // 0 off, 1 on, 2 dimmed (still lit).
        OnWakeSignal(*reinterpret_cast<const DWORD *>(setting->Data) == 0 ? kSignalDisplayOff : kSignalDisplayOn);
}

void OnInitDialog(HWND window) {
    g_appShell.SetWindowIcon(window, IDI_MAIN);
    StartTask(UpdateTask, window);
    g_appShell.CreateStatusBar(window);
    if (ApplySettings(window))
        g_appShell.MinimiseWhenShown();
    StartTask(StartupCheckTask, nullptr);
    SetTimer(window, kClockTimer, kClockPeriodMs, nullptr);
    WatchForWakes(window);
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
        ShowLogonStartRead(window, wParam != 0);
        break;
    case WM_TIMER:
        g_appShell.ShowClock();
        OnWakeSignal(kSignalClockTick); // first: a wake counts the period again
        ResyncIfDue();
        break;
    case WM_POWERBROADCAST:
        OnPowerBroadcast(wParam, lParam);
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
