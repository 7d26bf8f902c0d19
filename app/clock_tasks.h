// The background jobs that check and set the clock and report into the main window's status panes: the glue between
// the time operations and the window, so they live with the window.
#pragma once

#include <windows.h>

#include "time/time_servers.h"

// How long the automatic set waits before its first attempt and before its single retry.
struct AutoSyncDelays {
    DWORD firstMs;
    DWORD retryMs;
};

extern const AutoSyncDelays kAutoSyncDelays;

// A set refused since too few servers agreed on a correction of over an hour.
extern const char kTextSetTooFar[];

// The servers as the settings file names them now, each slot falling back to its built-in name.
TimeServerNames ConfiguredServers();

DWORD WINAPI StartupCheckTask(LPVOID parameter);
// Does nothing while another manual set, or an automatic set's attempt, runs.
DWORD WINAPI ManualSyncTask(LPVOID parameter);
// parameter: the AutoSyncDelays to use, or null for kAutoSyncDelays.
DWORD WINAPI AutoSyncTask(LPVOID parameter);

// Starts AutoSyncTask unless an automatic set is already under way; false when one was.
bool StartAutoSync(const AutoSyncDelays *delays = nullptr);

// While the automatic set is saved as on, the running program sets the clock again, as it does after it starts,
// every `hours` hours and after each wake; 0 hours turns both off. The same choice again keeps the running countdown.
// The window's thread only.
void ScheduleResync(bool autoSetTime, int hours);
// The same with the period in milliseconds (0 for none), and the sets' delays (null for kAutoSyncDelays).
void ScheduleResyncEvery(ULONGLONG periodMs, const AutoSyncDelays *delays = nullptr);
// Each tick of the clock pane: the periodic set, when it is due.
void ResyncIfDue();
// The machine has woken (see WakeRule): the set now, and the period counted again from here. An automatic set under
// way whose attempt fails, or that waits for its retry, makes it after its first delay instead, since the network is
// back.
void ResyncAfterResume();
