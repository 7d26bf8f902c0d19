// The command line for scripts: which switch was given, the exit codes, and the texts a run prints. Plain C++.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "time/clock_offset.h"

enum class CommandMode { kWindow, kCheck, kSync, kUsage, kBadArgument };

// Exit codes, documented for scripts and never to change.
const int kExitDone = 0;         // the clock is right, or was set
const int kExitOff = 1;          // the check found the clock off by a second or more
const int kExitFailed = 2;       // no server answered, or the set failed
const int kExitBusy = 3;         // another check or set held the clock lock, or it was refused
const int kExitBadArgument = 87; // ERROR_INVALID_PARAMETER

// Room for the argument a bad command line is named by, with its zero; a longer one is cut.
const int kArgumentSize = 64;

struct CommandLine {
    CommandMode mode;
    // For kBadArgument: the first argument that is not a switch, or the second switch.
    wchar_t badArgument[kArgumentSize];
};

// Reads a whole command line, the program's name first (as GetCommandLineW gives it). No arguments: kWindow.
CommandLine ParseCommandLine(const wchar_t *commandLine);

extern const char kUsage[];
extern const char kTextBadArgument[];
extern const char kTextSetNoPrivilege[];
extern const char kTextClockBusy[];

// The line for scripts after the report: offset_ms=<signed> server=<name> protocol=<sntp|time|http>, each value empty
// when server is null (no server answered).
void FormatReadingLine(char *text, size_t size, const char *server, int64_t offsetMs, TimeProtocol protocol);
