// The main window's three option boxes, shown as the settings file says and saved back to it.
#pragma once

#include <windows.h>

// What the user is told when the settings file could not be written.
extern const char kSaveFailedText[];

// Ticks the boxes as the file says and starts the automatic set when it is on; true when the window is to start
// minimised.
bool ApplySettings(HWND window);
// Saves the boxes; false when any of it failed.
bool SaveBoxes(HWND window);
// SaveBoxes, then tells the user how it went.
void SaveSettings(HWND window);
