// The three options of the main window, kept in NetTimeConfig.ini beside the program, and the log-on start.
#pragma once

// The options as the file holds them: 1 on, 0 off; a missing key reads as 3, and like any other value it is neither.
struct SavedChoices {
    int autoRun;
    int autoSetTime;
    int minimized;
};

SavedChoices ReadSettings();

// Registers or removes the log-on start and writes the three options; false when any of it failed. What can be
// written is written even so, but AutoRun keeps its old value when the log-on start could not be changed.
bool WriteSettings(bool autoRun, bool autoSetTime, bool minimized);
