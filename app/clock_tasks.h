// The background jobs that check and set the clock and report into the main window's status panes: the glue between
// the time operations and the window, so they live with the window.
#pragma once

#include <windows.h>

// How long the automatic set waits before its first attempt and before its single retry.
struct AutoSyncDelays {
    DWORD firstMs;
    DWORD retryMs;
};

extern const AutoSyncDelays kAutoSyncDelays;

DWORD WINAPI StartupCheckTask(LPVOID parameter);
DWORD WINAPI ManualSyncTask(LPVOID parameter);
// parameter: the AutoSyncDelays to use, or null for kAutoSyncDelays.
DWORD WINAPI AutoSyncTask(LPVOID parameter);
