// The main window's three option boxes, shown as the settings file says and saved back to it.
#pragma once

#include <windows.h>

// What the user is told when the settings file could not be written.
extern const char kSaveFailedText[];

// Posted to the main window once the start has read, off the window's thread, whether the running user has a log-on
// start that is kept: wParam 1 when there is one, 0 when not, kLogonStartUnknown when the Task Scheduler could not say
// (the box then keeps the file's value).
const UINT kLogonStartReadMessage = WM_APP + 1;
const WPARAM kLogonStartUnknown = 2;

// Ticks the boxes as the file says, starts the automatic set when it is on and starts reading the user's log-on
// start; true when the window is to start minimised.
bool ApplySettings(HWND window);
// Shows the log-on start that the start read (a kLogonStartReadMessage wParam), unless a save has decided it since; a
// box the user has changed in the meantime keeps the user's choice.
void ShowLogonStartRead(HWND window, WPARAM read);
// Saves the boxes; false when any of it failed. The log-on start is registered or removed only when the box differs
// from what it last showed as known; a save that leaves the box as shown before the start's reading came waits for
// the reading and keeps what it found.
bool SaveBoxes(HWND window);
// SaveBoxes, then tells the user how it went.
void SaveSettings(HWND window);
