// The background jobs that check and set the clock and report into the main window's status panes.
#include "app/clock_tasks.h"

#include "app/app_shell.h"
#include "app/command_line.h"
#include "app/start_task.h"
#include "settings/settings.h"
#include "time/clock_report.h"
#include "time/time_client.h"

const AutoSyncDelays kAutoSyncDelays = {10000, 300000};
const char kTextSetTooFar[] = "更新本机时间失败,时间服务器的时间相差太大!";

namespace {

const ULONGLONG kMillisecondsPerHour = 3600000;

// 1 while an automatic set runs, from its start to its last text.
volatile LONG g_autoSyncRunning;
// 1 while a manual set, or an automatic set's attempt, asks the servers: one set at a time.
volatile LONG g_setRunning;
const DWORD kSetPollMs = 100;

// The periodic set, on the window's thread only: its period (0 for none), when it is next due, and its delays.
ULONGLONG g_resyncPeriodMs;
ULONGLONG g_resyncDueAt;
const AutoSyncDelays *g_resyncDelays;

// Set when Windows resumes, for an automatic set waiting for its retry.
const HANDLE g_resumed = CreateEventW(nullptr, FALSE, FALSE, nullptr);

bool ClaimSet() {
    return InterlockedCompareExchange(&g_setRunning, 1, 0) == 0;
}

// Held by the caller's claim.
int SetClock() {
    const TimeServerNames names = ConfiguredServers();
    const int result = g_timeClient.SetClockFromServer(&names);
    InterlockedExchange(&g_setRunning, 0);
    return result;
}

// The automatic set's attempt waits for a manual set to end rather than ask the servers beside it.
int SetClockWhenFree() {
    while (!ClaimSet())
        Sleep(kSetPollMs);
    return SetClock();
}

void ReportSet(int result) {
    g_appShell.SetPaneText(kMessagePane, result == kSetDone     ? kTextSetDone
                                         : result == kSetTooFar ? kTextSetTooFar
                                         : result == kSetBusy   ? kTextClockBusy
                                                                : kTextSetFailed);
    if (result == kSetDone)
        g_appShell.SetPaneText(kResultPane, kTextSetAccurate);
}

} // namespace

TimeServerNames ConfiguredServers() {
    TimeServerNames names;
    for (int server = 1; server <= kTimeServerCount; ++server) {
        char configured[kHostNameSize];
        ReadTimeServerSetting(server, configured, sizeof configured);
        ChooseTimeServerName(server, configured, names.host[server - 1]);
    }
    return names;
}

DWORD WINAPI StartupCheckTask(LPVOID) {
    g_appShell.SetPaneText(kResultPane, kTextConnecting);
    char report[kReportSize] = {};
    const TimeServerNames names = ConfiguredServers();
    const int checked = g_timeClient.CheckClock(report, kReportSize, &names);
    g_appShell.SetPaneText(kResultPane, checked == kCheckDone   ? report
                                        : checked == kCheckBusy ? kTextClockBusy
                                                                : kTextConnectFailed);
    return 0;
}

DWORD WINAPI ManualSyncTask(LPVOID) {
    // A click, or Enter held down, while a set runs does nothing.
    if (!ClaimSet())
        return 0;
    g_appShell.SetPaneText(kMessagePane, kTextSetting);
    ReportSet(SetClock());
    return 0;
}

DWORD WINAPI AutoSyncTask(LPVOID parameter) {
    const AutoSyncDelays &delays = parameter ? *static_cast<const AutoSyncDelays *>(parameter) : kAutoSyncDelays;
    // Only resumes from here on count; one during the first attempt still brings the retry forward.
    ResetEvent(g_resumed);
    g_appShell.SetPaneText(kMessagePane, kTextSetting);
    Sleep(delays.firstMs);
    int result = SetClockWhenFree();
    if (result != kSetDone) {
        if (WaitForSingleObject(g_resumed, delays.retryMs) == WAIT_OBJECT_0)
            Sleep(delays.firstMs);
        result = SetClockWhenFree();
    }
    ReportSet(result);
    InterlockedExchange(&g_autoSyncRunning, 0);
    return 0;
}

bool StartAutoSync(const AutoSyncDelays *delays) {
    if (InterlockedCompareExchange(&g_autoSyncRunning, 1, 0) != 0)
        return false;
    if (!StartTask(AutoSyncTask, const_cast<AutoSyncDelays *>(delays)))
        InterlockedExchange(&g_autoSyncRunning, 0);
    return true;
}

void ScheduleResync(bool autoSetTime, int hours) {
    ScheduleResyncEvery(autoSetTime && hours > 0 ? static_cast<ULONGLONG>(hours) * kMillisecondsPerHour : 0);
}

void ScheduleResyncEvery(ULONGLONG periodMs, const AutoSyncDelays *delays) {
    g_resyncDelays = delays;
    // A save that changes nothing about the sets must not put the next one off again, or a user who saves daily
    // would never get a daily set.
    if (periodMs == g_resyncPeriodMs)
        return;
    g_resyncPeriodMs = periodMs;
    g_resyncDueAt = GetTickCount64() + periodMs;
}

void ResyncIfDue() {
    if (g_resyncPeriodMs != 0 && GetTickCount64() >= g_resyncDueAt) {
        g_resyncDueAt = GetTickCount64() + g_resyncPeriodMs;
        StartAutoSync(g_resyncDelays);
    }
}

void ResyncAfterResume() {
    if (g_resyncPeriodMs == 0)
        return;
    g_resyncDueAt = GetTickCount64() + g_resyncPeriodMs;
    if (!StartAutoSync(g_resyncDelays))
        SetEvent(g_resumed);
}
