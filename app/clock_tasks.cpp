// The background jobs that check and set the clock and report into the main window's status panes.
#include "app/clock_tasks.h"

#include "app/app_shell.h"
#include "settings/settings.h"
#include "time/clock_report.h"
#include "time/time_client.h"

const AutoSyncDelays kAutoSyncDelays = {10000, 300000};

namespace {

// The servers as the settings file names them now, each slot falling back to its built-in name.
TimeServerNames ConfiguredServers() {
    TimeServerNames names;
    for (int server = 1; server <= kTimeServerCount; ++server) {
        char configured[kHostNameSize];
        ReadTimeServerSetting(server, configured, sizeof configured);
        ChooseTimeServerName(server, configured, names.host[server - 1]);
    }
    return names;
}

int SetClock() {
    const TimeServerNames names = ConfiguredServers();
    return g_timeClient.SetClockFromServer(&names);
}

void ReportSetDone() {
    g_appShell.SetPaneText(kMessagePane, kTextSetDone);
    g_appShell.SetPaneText(kResultPane, kTextSetAccurate);
}

} // namespace

DWORD WINAPI StartupCheckTask(LPVOID) {
    g_appShell.SetPaneText(kResultPane, kTextConnecting);
    char report[kReportSize] = {};
    const TimeServerNames names = ConfiguredServers();
    if (g_timeClient.CheckClock(report, kReportSize, &names))
        g_appShell.SetPaneText(kResultPane, report);
    else
        g_appShell.SetPaneText(kResultPane, kTextConnectFailed);
    return 0;
}

DWORD WINAPI ManualSyncTask(LPVOID) {
    g_appShell.SetPaneText(kMessagePane, kTextSetting);
    if (SetClock())
        ReportSetDone();
    else
        g_appShell.SetPaneText(kMessagePane, kTextSetFailed);
    return 0;
}

DWORD WINAPI AutoSyncTask(LPVOID parameter) {
    const AutoSyncDelays &delays = parameter ? *static_cast<const AutoSyncDelays *>(parameter) : kAutoSyncDelays;
    g_appShell.SetPaneText(kMessagePane, kTextSetting);
    Sleep(delays.firstMs);
    if (SetClock()) {
        ReportSetDone();
        return 0;
    }
    Sleep(delays.retryMs);
    if (SetClock())
        ReportSetDone();
    else
        g_appShell.SetPaneText(kMessagePane, kTextSetFailed);
    return 0;
}
