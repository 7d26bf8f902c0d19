// The background jobs that check and set the clock and report into the main window's status panes.
#include "app/clock_tasks.h"

#include "app/app_shell.h"
#include "time/clock_report.h"
#include "time/time_client.h"

const AutoSyncDelays kAutoSyncDelays = {10000, 300000};

namespace {

void ReportSetDone() {
    g_appShell.SetPaneText(kMessagePane, kTextSetDone);
    g_appShell.SetPaneText(kResultPane, kTextSetAccurate);
}

} // namespace

DWORD WINAPI StartupCheckTask(LPVOID) {
    g_appShell.SetPaneText(kResultPane, kTextConnecting);
    char report[kReportSize] = {};
    if (g_timeClient.CheckClock(report, kReportSize))
        g_appShell.SetPaneText(kResultPane, report);
    else
        g_appShell.SetPaneText(kResultPane, kTextConnectFailed);
    return 0;
}

DWORD WINAPI ManualSyncTask(LPVOID) {
    g_appShell.SetPaneText(kMessagePane, kTextSetting);
    if (g_timeClient.SetClockFromServer())
        ReportSetDone();
    else
        g_appShell.SetPaneText(kMessagePane, kTextSetFailed);
    return 0;
}

DWORD WINAPI AutoSyncTask(LPVOID parameter) {
    const AutoSyncDelays &delays = parameter ? *static_cast<const AutoSyncDelays *>(parameter) : kAutoSyncDelays;
    g_appShell.SetPaneText(kMessagePane, kTextSetting);
    Sleep(delays.firstMs);
    if (g_timeClient.SetClockFromServer()) {
        ReportSetDone();
        return 0;
    }
    Sleep(delays.retryMs);
    if (g_timeClient.SetClockFromServer())
        ReportSetDone();
    else
        g_appShell.SetPaneText(kMessagePane, kTextSetFailed);
    return 0;
}
