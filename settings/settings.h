// The three options of the main window, kept in NetTimeConfig.ini beside the program.
#pragma once

#include <windows.h>

// Ticks the boxes as the file says and may start the automatic set; true when the window is to start minimised.
bool ApplySettings(HWND window);
// Writes the boxes to the file and registers or removes the log-on start; false when any of it failed. What can be
// written is written even so.
bool WriteSettings(HWND window);
// WriteSettings, then tells the user how it went.
void SaveSettings(HWND window);
