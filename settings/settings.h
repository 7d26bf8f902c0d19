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

// Every write is refused when the file is a reparse point or has more than one link; a file that is not there is made
// with full control for SYSTEM, Administrators and the running user and read for Users.

// Writes the three options; false when the file could not be written. AutoRun only remembers the last saved log-on
// start for a start that cannot read the Task Scheduler: the file is the machine's, the log-on start each user's own.
bool WriteSettings(bool autoRun, bool autoSetTime, bool minimized);

// Whether the running user has a log-on start that is kept, after removing the user's tasks that are not (see
// logon_start.h); false when the Task Scheduler could not say. Takes as long as the Task Scheduler does, so not on the
// window's thread; a save waits for it.
bool ReadLogonStart(bool &registered);

// Registers (on) or removes the running user's log-on start; false when it could not be changed. A refused
// registration also removes the user's tasks that are not kept. `registered` then says whether the user has a log-on
// start, unchanged when the Task Scheduler could not say.
bool ChangeLogonStart(bool on, bool &registered);

// The name the user gave time server 1, 2 or 3 (key TimeServer1, 2 or 3) into name, which holds size bytes; empty
// when the key is missing, too long, or holds anything but ASCII, or the file is refused (TimeServerSettingsRefused).
// Whether it is a host name is the caller's check.
void ReadTimeServerSetting(int server, char *name, size_t size);

// True when the file is there but someone other than SYSTEM, Administrators, TrustedInstaller and the running user owns
// it or may change it: ReadTimeServerSetting then reads every server as empty, since whoever named them could set
// this machine's clock. The other keys give no one a right she lacks, and are read as ever.
bool TimeServerSettingsRefused();

// Writes name as time server 1, 2 or 3's key, or removes the key when name is null; every other key stays. False when
// the file could not be written.
bool WriteTimeServerSetting(int server, const char *name);

const int kTimeServerSettings = 3;
typedef bool (*TimeServerWriter)(int server, const char *name);

// Writes the three servers' names (null removes a slot's key) through `write`, all or nothing: when one cannot be
// written, every key is put back as the file held it, and the result is false.
bool WriteTimeServerSettings(const char *const (&names)[kTimeServerSettings],
                             TimeServerWriter write = WriteTimeServerSetting);
