// The command line stored in the Run key for the log-on start.
#pragma once

#include <stddef.h>

// Writes the program's full path as the Run value's data: quoted when it contains a blank, so that Windows cannot
// start a shorter path (C:\Program.exe) instead. Returns false when it does not fit `size` characters.
bool FormatRunCommand(const wchar_t *programPath, wchar_t *command, size_t size);
