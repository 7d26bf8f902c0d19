// The three options of the main window and the time servers the user named, kept in NetTimeConfig.ini beside the
// program, and the log-on start.
#pragma once

#include <stddef.h>

// The options as the file holds them: 1 on, 0 off; a missing key reads as 3, and like any other value it is neither.
struct SavedChoices {
    int autoRun;
    int autoSetTime;
    int minimized;
    // Hours between the sets while the program runs (ResyncHours); 0 for none.
    int resyncHours;
};

SavedChoices ReadSettings();

// Registers or removes the log-on start and writes the three options; false when any of it failed. What can be
// written is written even so, but AutoRun keeps its old value when the log-on start could not be changed.
bool WriteSettings(bool autoRun, bool autoSetTime, bool minimized);

// Removes the user's log-on tasks whose program the guard refuses now, and saves AutoRun as 0 when none remains; for
// the start, when AutoRun says 1. Takes as long as the Task Scheduler does, so not on the window's thread.
void DropRefusedLogonStart();

// The name the user gave time server 1, 2 or 3 (key TimeServer1, 2 or 3) into name, which holds size bytes; empty
// when the key is missing, too long, or holds anything but ASCII. Whether it is a host name is the caller's check.
void ReadTimeServerSetting(int server, char *name, size_t size);

// Writes name as time server 1, 2 or 3's key, or removes the key when name is null; every other key stays. False when
// the file could not be written.
bool WriteTimeServerSetting(int server, const char *name);
